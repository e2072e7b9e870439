// SPDX-License-Identifier: MIT
#include "plotrun.h"

#if defined(PIDTUNE_BENCH_X11)

#include "processinfo.h"
#include "stats.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace liveplot {

namespace {

constexpr double kAfterFirstFrameSeconds = 1; // a slow starter is counted from this after it
constexpr double kWindowTimeoutSeconds = 15; // a program with no frame by then is skipped
constexpr double kTailSeconds = 1; // after the stream: frames that may still show its last lines
// Damage this close after the previous damage belongs to the same redraw: a program may draw
// one frame in several requests, and the server reports each that finds the damage cleared.
constexpr double kSameRedrawMs = 2;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

Run::~Run()
{
    stop();
    if (fd >= 0)
        ::close(fd);
}

bool Run::measure(Figures &figures, QString *why)
{
    if (!home.isValid() || !start(why))
        return false;
    const double settle = kSettleSeconds * 1000, end = stream.timeOf(stream.lines()) * 1000;
    double countFrom = -1; // once the program has drawn
    processinfo::Usage atStart, atEnd;
    double serverAtStart = 0, serverAtEnd = 0;
    bool counting = false, ended = false;
    int sinceCheck = 0;
    for (;;) {
        const double now = msSince(origin);
        if (!ended)
            writeDue(now);
        if (countFrom < 0 && !frames.empty())
            countFrom = std::max(settle, frames.front() + kAfterFirstFrameSeconds * 1000);
        if (countFrom < 0 && now > kWindowTimeoutSeconds * 1000) {
            *why = QStringLiteral("showed no frame in %1 s").arg(kWindowTimeoutSeconds);
            return false;
        }
        if (!counting && countFrom >= 0 && now >= countFrom) {
            counting = true;
            countFrom = now;
            atStart = processinfo::usage(child.processId());
            serverAtStart = serverCpu();
            figures.window = largestWindow();
            watchMarkers = markers != nullptr;
        }
        if (!ended && now >= end) {
            ended = true;
            if (!counting) {
                *why = frames.empty()
                    ? QStringLiteral("showed no frame in the %1 s of the stream").arg(end / 1000)
                    : QStringLiteral("drew its first frame too late to be counted");
                return false;
            }
            atEnd = processinfo::usage(child.processId());
            serverAtEnd = serverCpu();
            figures.behindAtEnd = behind();
        }
        if (ended && now >= end + kTailSeconds * 1000) {
            figures.behindAfter = behind();
            break;
        }
        if (++sinceCheck == 100) {
            sinceCheck = 0;
            if (child.state() == QProcess::NotRunning || child.waitForFinished(0)) {
                *why = QStringLiteral("exited %1 s into the stream").arg(now / 1000, 0, 'f', 1);
                return false;
            }
        }
        const double every = plotter.writeEveryMs;
        watch(ended ? now + 5 : (std::floor(now / every) + 1) * every);
    }
    if (markers)
        markers->checkFrame();

    const double counted = (end - countFrom) / 1000;
    figures.seconds = counted;
    figures.cpuPerSecond = (atEnd.cpuSeconds - atStart.cpuSeconds) / counted;
    figures.serverCpuPerSecond = (serverAtEnd - serverAtStart) / counted;
    figures.rssStartMiB = atStart.rssMiB;
    figures.rssEndMiB = atEnd.rssMiB;
    if (atEnd.processes.size() > 1) {
        QStringList parts;
        for (std::size_t i = 0; i < atEnd.processes.size(); ++i) {
            const double before = i < atStart.processes.size() ? atStart.processes[i].second : 0;
            parts << QStringLiteral("%1 %2 -> %3")
                         .arg(QString::fromLocal8Bit(atEnd.processes[i].first))
                         .arg(before, 0, 'f', 1)
                         .arg(atEnd.processes[i].second, 0, 'f', 1);
        }
        figures.processes = parts.join(QStringLiteral(", "));
    }
    figures.redrawsPerSecond
        = double(std::count_if(frames.begin(), frames.end(),
                               [&](double at) { return at >= countFrom && at < end; }))
        / counted;
    // For each line written while counting: the wait for the next damage after it.
    std::vector<double> delays;
    std::size_t frame = 0;
    for (const double at : written) {
        if (at < countFrom || at >= end)
            continue;
        while (frame < frames.size() && frames[frame] < at)
            ++frame;
        if (frame == frames.size())
            ++figures.unshown;
        else
            delays.push_back(frames[frame] - at);
    }
    figures.delays = qsizetype(delays.size());
    figures.delayP50 = percentile(delays, 0.50);
    figures.delayP99 = percentile(delays, 0.99);
    if (markers)
        arrival = markers->figures(written, frames, countFrom, end);
    return true;
}

bool Run::start(QString *why)
{
    // No settings of anyone's: an empty home and configuration, but the peer's own file.
    QProcessEnvironment environment = x.environment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    for (const auto &file : plotter.settings) {
        const QString path = home.filePath(QStringLiteral("config/") + file.first);
        QDir().mkpath(QFileInfo(path).path());
        QFile settings(path);
        if (!settings.open(QIODevice::WriteOnly) || settings.write(file.second) < 0) {
            *why = QStringLiteral("cannot write %1").arg(path);
            return false;
        }
    }
    streamPath = home.filePath(QLatin1String(plotter.readsFile ? "stream.txt" : "stream"));
    const QByteArray path = streamPath.toLocal8Bit();
    if (plotter.readsFile) {
        fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    } else if (::mkfifo(path.constData(), 0600) == 0) {
        // Read and write, so that opening it waits for no reader; not blocking, so that a
        // program that reads too slowly shows as lines waiting, not as a stalled bench.
        fd = ::open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        child.setStandardInputFile(streamPath);
    }
    if (fd < 0) {
        *why = QStringLiteral("cannot make the stream: %1").arg(qt_error_string(errno));
        return false;
    }
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(home.path());
    child.setStandardOutputFile(QProcess::nullDevice());
    child.setStandardErrorFile(QProcess::nullDevice());
    origin = Clock::now();
    // The first line is there before the program looks: kst2 wants a file with columns.
    writeDue(0);
    child.start(plotter.program, plotter.arguments);
    if (!child.waitForStarted(10000)) {
        *why = QStringLiteral("did not start: %1").arg(child.errorString());
        return false;
    }
    return true;
}

// Hands the lines due by now to the pipe or file; a line counts as written once all of it is.
void Run::writeDue(double now)
{
    offered
        = std::min(stream.lines(),
                   std::max(offered, qint64(now * stream.workload().linesPerSecond / 1000) + 1));
    const qint64 due = stream.end(offered - 1);
    while (queued < due) {
        const ssize_t n
            = ::write(fd, stream.text().constData() + queued, std::size_t(due - queued));
        if (n <= 0)
            break; // the pipe is full: the rest waits for the program to read
        queued += n;
    }
    const double at = msSince(origin);
    while (qint64(written.size()) < offered && stream.end(qint64(written.size())) <= queued)
        written.push_back(at);
}

// The lines due that the program has not read in full.
qint64 Run::behind() const
{
    qint64 read = -1; // bytes
    if (!plotter.readsFile) {
        int inPipe = 0;
        if (::ioctl(fd, FIONREAD, &inPipe) == 0)
            read = queued - inPipe;
    } else {
        // Where the program's own descriptor of the file stands.
        const QString target = QFileInfo(streamPath).canonicalFilePath();
        for (const qint64 pid : processinfo::tree(child.processId())) {
            const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
            for (const QString &entry : fds.entryList(QDir::Files | QDir::System)) {
                if (QFileInfo(fds.filePath(entry)).symLinkTarget() != target)
                    continue;
                QFile info(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid).arg(entry));
                if (info.open(QIODevice::ReadOnly))
                    read = std::max(read, info.readLine().mid(4).trimmed().toLongLong());
            }
        }
    }
    if (read < 0)
        return -1;
    // Lines [0, taken) were read in full.
    qint64 low = 0, high = offered;
    while (low < high) {
        const qint64 middle = (low + high) / 2;
        if (stream.end(middle) <= read)
            low = middle + 1;
        else
            high = middle;
    }
    return offered - low;
}

// Reads the X server's events until `untilMs`: the program's windows as they appear, each set
// to the same size when it is mapped, and their damage, cleared at once so that the next
// drawing is reported again.
void Run::watch(double untilMs)
{
    xcb_connection_t *connection = x.connection();
    bool requested = false;
    for (;;) {
        xcb_generic_event_t *event = xcb_poll_for_event(connection);
        if (!event) {
            if (requested) {
                xcb_flush(connection);
                requested = false;
            }
            const double wait = untilMs - msSince(origin);
            if (wait <= 0)
                return;
            pollfd pfd {xcb_get_file_descriptor(connection), POLLIN, 0};
            const timespec timeout {0, long(std::min(wait, 100.0) * 1e6)};
            ::ppoll(&pfd, 1, &timeout, nullptr);
            continue;
        }
        const uint8_t type = event->response_type & 0x7F;
        if (type == XCB_CREATE_NOTIFY) {
            const auto *created = reinterpret_cast<xcb_create_notify_event_t *>(event);
            if (created->parent == x.root()) {
                const xcb_damage_damage_t damage = xcb_generate_id(connection);
                xcb_damage_create(connection, damage, created->window,
                                  XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
                watched[created->window] = damage;
                requested = true;
            }
        } else if (type == XCB_MAP_NOTIFY) {
            const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
            if (watched.count(map->window) && mapped.insert(map->window).second) {
                const uint32_t geometry[]
                    = {0, 0, uint32_t(plotter.width), uint32_t(plotter.height)};
                xcb_configure_window(connection, map->window,
                                     XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y
                                         | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                                     geometry);
                requested = true;
            }
        } else if (type == XCB_CONFIGURE_NOTIFY) {
            // A program that sizes its window itself after it was mapped (gnuplot_x11 adds its
            // status line) is set back, a few times at most, so as not to fight it.
            const auto *configured = reinterpret_cast<xcb_configure_notify_event_t *>(event);
            if (mapped.count(configured->window)
                && (configured->width != plotter.width || configured->height != plotter.height)
                && ++resized[configured->window] <= 3) {
                const uint32_t size[] = {uint32_t(plotter.width), uint32_t(plotter.height)};
                xcb_configure_window(connection, configured->window,
                                     XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
                requested = true;
            }
        } else if (type == XCB_DESTROY_NOTIFY) {
            const auto *destroyed = reinterpret_cast<xcb_destroy_notify_event_t *>(event);
            watched.erase(destroyed->window); // its damage went with it
            mapped.erase(destroyed->window);
        } else if (type == x.damageNotify()) {
            const auto *damage = reinterpret_cast<xcb_damage_notify_event_t *>(event);
            if (mapped.count(damage->drawable)) {
                xcb_damage_subtract(connection, damage->damage, XCB_NONE, XCB_NONE);
                requested = true;
                const double now = msSince(origin);
                if (frames.empty() || now - lastDamage > kSameRedrawMs)
                    frames.push_back(now);
                lastDamage = now;
                if (watchMarkers)
                    markers->damaged(damage->drawable, qint64(written.size()), origin);
            }
        }
        std::free(event);
    }
}

double Run::serverCpu() const
{
    processinfo::Stat stat;
    return processinfo::readStat(x.processId(), stat) ? stat.cpuSeconds : 0;
}

// The size the biggest mapped window has, to show that all had the same.
QString Run::largestWindow() const
{
    int width = 0, height = 0;
    for (const xcb_window_t window : mapped) {
        xcb_get_geometry_reply_t *geometry = xcb_get_geometry_reply(
            x.connection(), xcb_get_geometry(x.connection(), window), nullptr);
        if (geometry && geometry->width * geometry->height > width * height) {
            width = geometry->width;
            height = geometry->height;
        }
        std::free(geometry);
    }
    return QStringLiteral("%1x%2").arg(width).arg(height);
}

// The program and whatever it started, by their ids, politely first.
void Run::stop()
{
    for (const auto &entry : watched)
        xcb_damage_destroy(x.connection(), entry.second);
    xcb_flush(x.connection());
    watched.clear();
    mapped.clear();
    if (child.state() != QProcess::NotRunning) {
        const std::vector<qint64> all = processinfo::tree(child.processId());
        for (const qint64 pid : all)
            ::kill(pid_t(pid), SIGTERM);
        if (!child.waitForFinished(3000))
            child.kill();
        child.waitForFinished(3000);
        for (std::size_t i = 1; i < all.size(); ++i)
            ::kill(pid_t(all[i]), SIGKILL); // those that outlived it
    }
    // Whatever the closed windows still report belongs to no later program.
    const auto quiet = Clock::now();
    while (msSince(quiet) < 200) {
        if (xcb_generic_event_t *late = xcb_poll_for_event(x.connection()))
            std::free(late);
        else
            QThread::msleep(10);
    }
}

} // namespace liveplot

#endif
