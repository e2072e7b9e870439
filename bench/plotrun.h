// SPDX-License-Identifier: MIT
#pragma once

#if defined(PIDTUNE_BENCH_X11)

#include "markerwatch.h"
#include "telemetrystream.h"
#include "xvfb.h"

#include <QProcess>
#include <QSize>
#include <QStringList>
#include <QTemporaryDir>

#include <map>
#include <set>
#include <utility>
#include <vector>

#include <xcb/damage.h>

namespace liveplot {

// A live plotter as the bench starts it.
struct Plotter
{
    QString label;
    QString program;
    QStringList arguments;
    bool readsFile = false; // stream.txt in its working directory, else standard input
    bool labelled = false; // "t=<ms> a=..." lines, else bare columns with seconds first
    // Files to put in its configuration directory, and their contents.
    std::vector<std::pair<QString, QByteArray>> settings;
    QString missing; // why it cannot run here
    int width = 1200, height = 800; // its window, set through the X server
    double writeEveryMs = 1; // the lines due are written this often
};

// What one run of a plotter cost and showed, counted from when it had settled to the end of
// the stream.
struct Figures
{
    double seconds = 0; // counted
    double cpuPerSecond = 0;
    double serverCpuPerSecond = 0;
    double rssStartMiB = 0;
    double rssEndMiB = 0;
    QString processes; // each process's resident memory, where there are several
    double redrawsPerSecond = 0;
    double delayP50 = 0; // write -> damage, ms
    double delayP99 = 0;
    qsizetype delays = 0;
    qsizetype unshown = 0; // lines that no damage followed
    // Lines written that the program had not read: when the stream ended, and a second later
    // (lost to the view); -1 where that cannot be seen from outside.
    qint64 behindAtEnd = -1;
    qint64 behindAfter = -1;
    QString window;
};

// Runs one plotter on the bench's Xvfb with the stream written at its pace, a millisecond's
// lines at a time as a USB full-speed link delivers them (or as often as the plotter says), and
// watches it from outside: CPU time and memory of its processes from /proc, its redraws through
// the X DAMAGE extension, and how much of the stream it has not read yet.
class Run
{
public:
    static constexpr double kSettleSeconds = 3; // start-up: nothing before it is counted

    // With `markers`, the stream carries markers and each damage is read back for them.
    Run(Xvfb &x, const Plotter &plotter, const Stream &stream, MarkerWatch *markers = nullptr)
        : x(x), plotter(plotter), stream(stream), markers(markers)
    { }
    Run(const Run &) = delete;
    Run &operator=(const Run &) = delete;
    ~Run();

    // On failure, *why says why the program could not be measured.
    bool measure(Figures &figures, QString *why);
    const ArrivalFigures &arrivalFigures() const { return arrival; }

private:
    bool start(QString *why);
    void writeDue(double now);
    qint64 behind() const;
    void watch(double untilMs);
    double serverCpu() const;
    QString largestWindow() const;
    void stop();

    Xvfb &x;
    const Plotter &plotter;
    const Stream &stream;
    MarkerWatch *const markers;
    bool watchMarkers = false; // from the start of the count on
    ArrivalFigures arrival;
    QTemporaryDir home;
    QString streamPath;
    QProcess child;
    int fd = -1;
    Clock::time_point origin;
    qint64 offered = 0; // lines due so far
    qint64 queued = 0; // bytes handed to the pipe or file
    std::vector<double> written; // ms after the origin, one for each line written in full
    std::vector<double> frames; // ms after the origin, the first damage of each redraw
    double lastDamage = 0;
    std::map<xcb_window_t, xcb_damage_damage_t> watched;
    std::set<xcb_window_t> mapped;
    std::map<xcb_window_t, int> resized;
};

} // namespace liveplot

#endif
