// SPDX-License-Identifier: MIT
// Time to the first frame on a real X server. The offscreen platform the other figures use loads
// no display driver at all, which hides what a desktop start costs (Qt 5 loading the GL stack,
// for one). Here every program runs on an Xvfb of the bench's own, and the bench watches the
// server: the X DAMAGE extension reports the moment the program's window is first drawn into,
// which is when its first frame exists for the user. The same watch serves the pidtune program
// itself, unchanged, and the windows it is compared with.
#include "firstframe.h"
#include "processinfo.h"
#include "stats.h"
#include "xvfb.h"

#include <QtCore>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <vector>

#if defined(PIDTUNE_BENCH_X11)
#include <poll.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>
#endif

namespace firstframe {

#if !defined(PIDTUNE_BENCH_X11)

void printFigures(int)
{
    std::printf("\nfirst frame on X: skipped, built without xcb-damage "
                "(apt-get install libxcb-damage0-dev xvfb, then rebuild)\n");
}

#else

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTimeoutMs = 20000;
constexpr int kIdleMs = 400; // after the first frame, before memory is read

struct Kind
{
    const char *label;
    QString program;
    QStringList arguments;
};

struct Sample
{
    double mappedMs = 0; // exec -> the window mapped
    double frameMs = 0; // exec -> first drawing into it
    double cpuMs = 0; // CPU time of all its threads up to then: the work, whatever the load
    double rssMiB = 0;
    double pssMiB = 0;
};

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class XServer
{
public:
    bool start(QString *why)
    {
        if (!x.start(why))
            return false;
        connection = x.connection();
        root = x.root();
        damageNotify = x.damageNotify();
        return true;
    }

    // Runs one program until its first frame and a moment of idling after it.
    bool measure(const Kind &kind, const QString &workingDirectory, Sample &sample)
    {
        QProcess child;
        child.setProcessEnvironment(x.environment());
        child.setWorkingDirectory(workingDirectory);
        child.setStandardOutputFile(QProcess::nullDevice());
        child.setStandardErrorFile(QProcess::nullDevice());

        std::map<xcb_window_t, xcb_damage_damage_t> watched; // top-level window -> its damage
        std::map<xcb_window_t, bool> mapped;
        const auto start = Clock::now();
        child.start(kind.program, kind.arguments);
        bool framed = false;
        QDeadlineTimer deadline(kTimeoutMs);
        while (!framed && !deadline.hasExpired()) {
            xcb_generic_event_t *event = xcb_poll_for_event(connection);
            if (!event) {
                pollfd pfd {xcb_get_file_descriptor(connection), POLLIN, 0};
                ::poll(&pfd, 1, 50);
                if (child.waitForFinished(0))
                    break; // it ended without a frame
                continue;
            }
            const uint8_t type = event->response_type & 0x7F;
            if (type == XCB_CREATE_NOTIFY) {
                const auto *created = reinterpret_cast<xcb_create_notify_event_t *>(event);
                if (created->parent == root) {
                    const xcb_damage_damage_t damage = xcb_generate_id(connection);
                    xcb_damage_create(connection, damage, created->window,
                                      XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
                    xcb_flush(connection);
                    watched[created->window] = damage;
                }
            } else if (type == XCB_MAP_NOTIFY) {
                const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
                if (watched.count(map->window) && !mapped[map->window]) {
                    mapped[map->window] = true;
                    sample.mappedMs = msSince(start);
                }
            } else if (type == damageNotify) {
                const auto *damage = reinterpret_cast<xcb_damage_notify_event_t *>(event);
                if (mapped[damage->drawable]) {
                    sample.frameMs = msSince(start);
                    sample.cpuMs = processinfo::threadCpuMs(child.processId());
                    framed = true;
                }
            }
            free(event);
        }
        if (framed) {
            QThread::msleep(kIdleMs);
            processinfo::readRollup(child.processId(), &sample.rssMiB, &sample.pssMiB);
        }
        for (const auto &entry : watched)
            xcb_damage_destroy(connection, entry.second);
        xcb_flush(connection);
        child.kill();
        child.waitForFinished(kTimeoutMs);
        // Whatever the killed program's windows still report belongs to no later round.
        while (xcb_generic_event_t *late = xcb_poll_for_event(connection))
            free(late);
        return framed;
    }

private:
    Xvfb x;
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;
    uint8_t damageNotify = 0;
};

} // namespace

void printFigures(int rounds)
{
    const std::vector<Kind> kinds = {
        {"pidtune", QStringLiteral(PIDTUNE_BINARY), {}},
        {"bare", QStringLiteral(PIDTUNE_BENCH_WINDOW), {QStringLiteral("bare")}},
        {"form, no port listing", QStringLiteral(PIDTUNE_BENCH_WINDOW), {QStringLiteral("form")}},
        {"bare, Qt defaults",
         QStringLiteral(PIDTUNE_BENCH_WINDOW),
         {QStringLiteral("bare-defaults")}},
    };
    XServer x;
    QString why;
    if (!x.start(&why)) {
        std::printf("\nfirst frame on X: skipped, %s\n", qPrintable(why));
        return;
    }
    QTemporaryDir workingDirectory; // no Settings.ini
    std::vector<std::vector<Sample>> samples(kinds.size());
    // One untimed round fills the caches (fontconfig, the page cache) for all alike. After it,
    // the kinds take turns, each round starting with another, so that a busy moment of the
    // machine falls on all of them.
    for (int round = -1; round < rounds; ++round) {
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            const std::size_t k = (i + std::size_t(std::max(round, 0))) % kinds.size();
            Sample sample;
            if (!x.measure(kinds[k], workingDirectory.path(), sample)) {
                std::printf("\nfirst frame on X: skipped, %s showed no frame\n", kinds[k].label);
                return;
            }
            if (round >= 0)
                samples[k].push_back(sample);
        }
    }

    const auto column = [&](std::size_t k, double Sample::*field) {
        std::vector<double> values;
        for (const Sample &sample : samples[k])
            values.push_back(sample.*field);
        return median(values);
    };
    const double bareFrame = column(1, &Sample::frameMs);
    const double formFrame = column(2, &Sample::frameMs);
    std::printf("\nfirst frame on an X server (Xvfb), exec to the first drawing into the window, "
                "median of %d interleaved rounds; memory %d ms after it\n",
                rounds, kIdleMs);
    const double bareCpu = column(1, &Sample::cpuMs);
    const double formCpu = column(2, &Sample::cpuMs);
    std::printf("%-22s %9s %8s %7s %7s %7s %7s %7s %7s %7s\n", "program", "mapped ms", "frame ms",
                "vs bare", "vs form", "CPU ms", "vs bare", "vs form", "RSS MiB", "PSS MiB");
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        const double frame = column(k, &Sample::frameMs);
        const double cpu = column(k, &Sample::cpuMs);
        std::printf("%-22s %9.1f %8.1f %7.2f %7.2f %7.1f %7.2f %7.2f %7.1f %7.1f\n", kinds[k].label,
                    column(k, &Sample::mappedMs), frame, frame / bareFrame, frame / formFrame, cpu,
                    cpu / bareCpu, cpu / formCpu, column(k, &Sample::rssMiB),
                    column(k, &Sample::pssMiB));
    }
    std::printf("bare and form: pidtune's set-up (raster widgets, icon), the window's size; form: "
                "its widgets and captions without listing ports. Qt defaults: none of the "
                "set-up.\nCPU ms: the time its threads ran until the frame, which the load of the "
                "machine changes less than the wall-clock time.\n");
}

#endif

} // namespace firstframe
