// SPDX-License-Identifier: MIT
// pidtune-scope next to the live plotters Debian packages: kst2, which reads a file as it grows,
// and feedgnuplot --stream, which pipes what it reads on standard input to gnuplot and its X11
// terminal. All three get the same lines at the same pace on an Xvfb of the bench's own, one
// program after the other so that none takes CPU time from another, and all three are watched
// from outside in the same way: CPU time and resident memory of the program's processes from
// /proc, and its redraws as the X server sees them through the DAMAGE extension. Nothing is
// asked of the programs themselves, so the scope runs unchanged, as an operator starts it.
#include "liveplot.h"
#include "xvfb.h"

#include <QtCore>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <set>
#include <vector>

#if defined(PIDTUNE_BENCH_X11)
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/damage.h>
#endif

namespace liveplot {

#if !defined(PIDTUNE_BENCH_X11)

void printFigures(double)
{
    std::printf("\nlive plotting on X: skipped, built without xcb-damage "
                "(apt-get install libxcb-damage0-dev xvfb, then rebuild)\n");
}

#else

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLinesPerSecond = 1000;
constexpr double kViewSeconds = 10;
constexpr double kSettleSeconds = 3; // start-up: nothing before it is counted
constexpr double kAfterFirstFrameSeconds = 1; // a slow starter is counted from this after it
constexpr double kWindowTimeoutSeconds = 15; // a program with no frame by then is skipped
constexpr double kTailSeconds = 1; // after the stream: frames that may still show its last lines
// Damage this close after the previous damage belongs to the same redraw: a program may draw
// one frame in several requests, and the server reports each that finds the damage cleared.
constexpr double kSameRedrawMs = 2;
constexpr uint16_t kWidth = 1200, kHeight = 800;

struct Plotter
{
    const char *label;
    QString program;
    QStringList arguments;
    bool readsFile = false; // stream.txt in its working directory, else standard input
    bool labelled = false; // "t=<ms> a=..." lines, else bare columns with seconds first
    // Files to put in its configuration directory, and their contents.
    std::vector<std::pair<QString, QByteArray>> settings;
    QString missing; // why it cannot run here
};

struct Figures
{
    double seconds = 0; // counted
    double cpuPerSecond = 0;
    double serverCpuPerSecond = 0;
    double rssStartMiB = 0;
    double rssEndMiB = 0;
    QString processes; // each process's resident memory, where there are several
    double redrawsPerSecond = 0;
    double delayP50 = 0;
    double delayP99 = 0;
    qsizetype delays = 0;
    qsizetype unshown = 0; // lines that no damage followed
    QString window;
};

struct ProcessStat
{
    qint64 parent = 0;
    double cpuSeconds = 0; // its own and that of its children it has waited for
    QByteArray name;
};

bool readStat(qint64 pid, ProcessStat &stat)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.readAll();
    const int open = text.indexOf('('), close = text.lastIndexOf(')');
    if (open < 0 || close < open)
        return false;
    stat.name = text.mid(open + 1, close - open - 1);
    // Field 3 of proc(5), the state, comes first: the parent is field 4, utime to cstime 14-17.
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.size() < 15)
        return false;
    static const double ticks = double(::sysconf(_SC_CLK_TCK));
    stat.parent = fields[1].toLongLong();
    stat.cpuSeconds = (fields[11].toDouble() + fields[12].toDouble() + fields[13].toDouble()
                       + fields[14].toDouble())
        / ticks;
    return true;
}

double residentMiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return 0;
}

// The process and all its descendants: feedgnuplot's gnuplot and gnuplot_x11 do its work.
std::vector<qint64> processTree(qint64 root)
{
    std::multimap<qint64, qint64> children;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        ProcessStat stat;
        if (isNumber && readStat(pid, stat))
            children.emplace(stat.parent, pid);
    }
    std::vector<qint64> tree {root};
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const auto range = children.equal_range(tree[i]);
        for (auto child = range.first; child != range.second; ++child)
            tree.push_back(child->second);
    }
    return tree;
}

struct Usage
{
    double cpuSeconds = 0;
    double rssMiB = 0;
    std::vector<std::pair<QByteArray, double>> processes; // name, MiB
};

Usage usage(qint64 root)
{
    Usage sum;
    for (const qint64 pid : processTree(root)) {
        ProcessStat stat;
        if (!readStat(pid, stat))
            continue;
        const double rss = residentMiB(pid);
        sum.cpuSeconds += stat.cpuSeconds;
        sum.rssMiB += rss;
        sum.processes.emplace_back(stat.name, rss);
    }
    return sum;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

// Line n of the stream, n milliseconds in: four series of different shapes, among them noise,
// so that no pixel column of any program's chart is a straight run. The scope reads its
// labelled form with the time in milliseconds (--time t, as from the example firmware); kst2
// and feedgnuplot read bare columns, the time first in seconds. The numbers are the same.
QByteArray streamLine(qint64 n, bool labelled)
{
    const double t = double(n) / kLinesPerSecond;
    const double pi = 3.14159265358979323846;
    const double a = std::sin(2 * pi * 0.2 * t);
    const double b = 0.5 * std::sin(2 * pi * 1.3 * t) + 0.2;
    const double c = double(n % 2000) / 1000 - 1;
    const std::uint32_t hash = std::uint32_t(n) * 2654435761u;
    const double d = 0.3 * double(hash >> 22) / 1024 - 0.6;
    char text[128];
    const int size = labelled
        ? std::snprintf(text, sizeof text, "t=%lld a=%.4f b=%.4f c=%.4f d=%.4f\n", qint64(n), a, b,
                        c, d)
        : std::snprintf(text, sizeof text, "%.3f %.4f %.4f %.4f %.4f\n", t, a, b, c, d);
    return QByteArray(text, size);
}

class Run
{
public:
    Run(Xvfb &x, const Plotter &plotter, double seconds) : x(x), plotter(plotter), seconds(seconds)
    { }

    ~Run()
    {
        stop();
        if (stream >= 0)
            ::close(stream);
    }

    // On failure, *why says why the program could not be measured.
    bool measure(Figures &figures, QString *why)
    {
        if (!home.isValid() || !start(why))
            return false;
        const double settle = kSettleSeconds * 1000, end = seconds * 1000;
        double countFrom = -1; // once the program has drawn
        Usage atStart, atEnd;
        double serverAtStart = 0, serverAtEnd = 0;
        bool counting = false, ended = false;
        const qint64 lines = qint64(seconds * kLinesPerSecond);
        int sinceCheck = 0;
        for (;;) {
            const double now = msSince(origin);
            if (!ended) {
                // Every line that is due, with the time it went in.
                while (next < lines && double(next) * 1000 / kLinesPerSecond <= now)
                    queue(next++);
                flush();
            }
            if (countFrom < 0 && !frames.empty())
                countFrom = std::max(settle, frames.front() + kAfterFirstFrameSeconds * 1000);
            if (countFrom < 0 && now > kWindowTimeoutSeconds * 1000) {
                *why = QStringLiteral("showed no frame in %1 s").arg(kWindowTimeoutSeconds);
                return false;
            }
            if (!counting && countFrom >= 0 && now >= countFrom) {
                counting = true;
                countFrom = now;
                atStart = usage(child.processId());
                serverAtStart = serverCpu();
                figures.window = largestWindow();
            }
            if (!ended && now >= end) {
                ended = true;
                if (!counting) {
                    *why = frames.empty()
                        ? QStringLiteral("showed no frame in the %1 s of the stream").arg(seconds)
                        : QStringLiteral("drew its first frame too late to be counted");
                    return false;
                }
                atEnd = usage(child.processId());
                serverAtEnd = serverCpu();
            }
            if (ended && now >= end + kTailSeconds * 1000)
                break;
            if (++sinceCheck == 100) {
                sinceCheck = 0;
                if (child.state() == QProcess::NotRunning || child.waitForFinished(0)) {
                    *why = QStringLiteral("exited %1 s into the stream").arg(now / 1000, 0, 'f', 1);
                    return false;
                }
            }
            watch(next < lines && !ended ? double(next) * 1000 / kLinesPerSecond : now + 5);
        }

        const double counted = (end - countFrom) / 1000;
        figures.seconds = counted;
        figures.cpuPerSecond = (atEnd.cpuSeconds - atStart.cpuSeconds) / counted;
        figures.serverCpuPerSecond = (serverAtEnd - serverAtStart) / counted;
        figures.rssStartMiB = atStart.rssMiB;
        figures.rssEndMiB = atEnd.rssMiB;
        if (atEnd.processes.size() > 1) {
            QStringList parts;
            for (std::size_t i = 0; i < atEnd.processes.size(); ++i) {
                const double before
                    = i < atStart.processes.size() ? atStart.processes[i].second : 0;
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
        return true;
    }

private:
    static double msSince(Clock::time_point start)
    {
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }

    bool start(QString *why)
    {
        // No settings of anyone's: an empty home and configuration, but the peer's own file.
        QProcessEnvironment environment = x.environment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                           home.filePath(QStringLiteral("config")));
        for (const auto &file : plotter.settings) {
            const QString path = home.filePath(QStringLiteral("config/") + file.first);
            QDir().mkpath(QFileInfo(path).path());
            QFile settings(path);
            if (!settings.open(QIODevice::WriteOnly) || settings.write(file.second) < 0) {
                *why = QStringLiteral("cannot write %1").arg(path);
                return false;
            }
        }
        const QByteArray path
            = home.filePath(QLatin1String(plotter.readsFile ? "stream.txt" : "stream"))
                  .toLocal8Bit();
        if (plotter.readsFile) {
            stream = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC,
                            0600);
        } else if (::mkfifo(path.constData(), 0600) == 0) {
            // Read and write, so that opening it waits for no reader; not blocking, so that a
            // program that reads too slowly shows as lines waiting, not as a stalled bench.
            stream = ::open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            child.setStandardInputFile(QString::fromLocal8Bit(path));
        }
        if (stream < 0) {
            *why = QStringLiteral("cannot make the stream: %1").arg(qt_error_string(errno));
            return false;
        }
        child.setProcessEnvironment(environment);
        child.setWorkingDirectory(home.path());
        child.setStandardOutputFile(QProcess::nullDevice());
        child.setStandardErrorFile(QProcess::nullDevice());
        origin = Clock::now();
        // The first line is there before the program looks: kst2 wants a file with columns.
        queue(0);
        flush();
        next = 1;
        child.start(plotter.program, plotter.arguments);
        if (!child.waitForStarted(10000)) {
            *why = QStringLiteral("did not start: %1").arg(child.errorString());
            return false;
        }
        return true;
    }

    void queue(qint64 n)
    {
        pending += streamLine(n, plotter.labelled);
        lineEnds.push_back(queued + pending.size());
    }

    // Hands what is pending to the file or pipe; a line counts as written once all of it is.
    void flush()
    {
        while (!pending.isEmpty()) {
            const ssize_t n = ::write(stream, pending.constData(), std::size_t(pending.size()));
            if (n <= 0)
                break; // the pipe is full: the rest waits for the program to read
            pending.remove(0, int(n));
            queued += n;
        }
        const double now = msSince(origin);
        while (!lineEnds.empty() && lineEnds.front() <= queued) {
            written.push_back(now);
            lineEnds.pop_front();
        }
    }

    // Reads the X server's events until `untilMs`: the program's windows as they appear, each
    // set to the same size when it is mapped, and their damage, cleared at once so that the
    // next drawing is reported again.
    void watch(double untilMs)
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
                    const uint32_t geometry[] = {0, 0, kWidth, kHeight};
                    xcb_configure_window(connection, map->window,
                                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y
                                             | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                                         geometry);
                    requested = true;
                }
            } else if (type == XCB_CONFIGURE_NOTIFY) {
                // A program that sizes its window itself after it was mapped (gnuplot_x11 adds
                // its status line) is set back, a few times at most, so as not to fight it.
                const auto *configured = reinterpret_cast<xcb_configure_notify_event_t *>(event);
                if (mapped.count(configured->window)
                    && (configured->width != kWidth || configured->height != kHeight)
                    && ++resized[configured->window] <= 3) {
                    const uint32_t size[] = {kWidth, kHeight};
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
                }
            }
            std::free(event);
        }
    }

    double serverCpu() const
    {
        ProcessStat stat;
        return readStat(x.processId(), stat) ? stat.cpuSeconds : 0;
    }

    // The size the biggest mapped window has, to show that all had the same.
    QString largestWindow() const
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
    void stop()
    {
        for (const auto &entry : watched)
            xcb_damage_destroy(x.connection(), entry.second);
        xcb_flush(x.connection());
        watched.clear();
        mapped.clear();
        if (child.state() != QProcess::NotRunning) {
            const std::vector<qint64> tree = processTree(child.processId());
            for (const qint64 pid : tree)
                ::kill(pid_t(pid), SIGTERM);
            if (!child.waitForFinished(3000))
                child.kill();
            child.waitForFinished(3000);
            for (std::size_t i = 1; i < tree.size(); ++i)
                ::kill(pid_t(tree[i]), SIGKILL); // those that outlived it
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

    Xvfb &x;
    const Plotter &plotter;
    const double seconds;
    QTemporaryDir home;
    QProcess child;
    int stream = -1;
    Clock::time_point origin;
    qint64 next = 0; // the next line to write
    QByteArray pending;
    qint64 queued = 0; // bytes handed to the stream so far
    std::deque<qint64> lineEnds; // where each pending line ends, counted as `queued` is
    std::vector<double> written; // ms after the origin, one for each line
    std::vector<double> frames; // ms after the origin, the first damage of each redraw
    double lastDamage = 0;
    std::map<xcb_window_t, xcb_damage_damage_t> watched;
    std::set<xcb_window_t> mapped;
    std::map<xcb_window_t, int> resized;
};

std::vector<Plotter> plotters()
{
    const QString view = QString::number(kViewSeconds);
    const QString viewLines = QString::number(int(kViewSeconds * kLinesPerSecond));
    Plotter scope {"pidtune-scope",
                   QStringLiteral(PIDTUNE_SCOPE),
                   {"--time", "t", "--window", view, "-"},
                   false,
                   true,
                   {},
                   {}};
    // The last 10,000 lines of the file, the first column as X. Asked to look at the growing
    // file every 20 ms, the scope's own shortest period between redraws.
    Plotter kst {"kst2",
                 QStandardPaths::findExecutable(QStringLiteral("kst2")),
                 {"stream.txt", "-n", viewLines, "-x", "1", "-P", "P1", "-y", "2", "-y", "3", "-y",
                  "4", "-y", "5"},
                 true,
                 false,
                 {{QStringLiteral("kst/application.conf"), "[%General]\nminimumupdateperiod=20\n"}},
                 {}};
    if (kst.program.isEmpty())
        kst.missing = QStringLiteral("not installed (apt-get install kst)");
    // Replotting every 20 ms at most, like the scope, through gnuplot's X11 terminal.
    Plotter feedgnuplot {"feedgnuplot --stream",
                         QStandardPaths::findExecutable(QStringLiteral("feedgnuplot")),
                         {"--domain", "--lines", "--stream", "0.02", "--xlen", view, "--terminal",
                          QStringLiteral("x11")},
                         false,
                         false,
                         {},
                         {}};
    if (feedgnuplot.program.isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("gnuplot")).isEmpty())
        feedgnuplot.missing
            = QStringLiteral("not installed (apt-get install feedgnuplot gnuplot-x11)");
    return {scope, kst, feedgnuplot};
}

} // namespace

void printFigures(double seconds)
{
    Xvfb x;
    QString why;
    if (!x.start(&why)) {
        std::printf("\nlive plotting on X: skipped, %s\n", qPrintable(why));
        return;
    }
    std::printf("\nlive plotting on an X server (Xvfb), one program after the other: the same 4 "
                "series at %d lines a second for %.0f s, a %.0f s view, the window set to %dx%d; "
                "counted from %.0f s on\n",
                kLinesPerSecond, seconds, kViewSeconds, kWidth, kHeight, kSettleSeconds);
    std::printf("%-21s %7s %7s %8s %13s %9s %15s %9s\n", "program", "CPU s/s", "ms per", "Xvfb s/s",
                "RSS MiB", "redraws/s", "write->damage", "window");
    std::printf("%-21s %7s %7s %8s %6s %6s %9s %7s %7s\n", "", "", "redraw", "", "start", "end", "",
                "p50 ms", "p99 ms");
    std::vector<QString> notes;
    for (const Plotter &plotter : plotters()) {
        if (!plotter.missing.isEmpty()) {
            std::printf("%-21s skipped, %s\n", plotter.label, qPrintable(plotter.missing));
            continue;
        }
        Figures figures;
        Run run(x, plotter, seconds);
        if (!run.measure(figures, &why)) {
            std::printf("%-21s skipped, %s\n", plotter.label, qPrintable(why));
            continue;
        }
        std::printf("%-21s %7.3f %7.2f %8.3f %6.1f %6.1f %9.1f %7.1f %7.1f %9s\n", plotter.label,
                    figures.cpuPerSecond,
                    figures.redrawsPerSecond > 0
                        ? figures.cpuPerSecond * 1000 / figures.redrawsPerSecond
                        : 0.0,
                    figures.serverCpuPerSecond, figures.rssStartMiB, figures.rssEndMiB,
                    figures.redrawsPerSecond, figures.delayP50, figures.delayP99,
                    qPrintable(figures.window));
        if (!figures.processes.isEmpty())
            notes.push_back(QStringLiteral("%1's processes, RSS MiB: %2")
                                .arg(QString::fromLatin1(plotter.label), figures.processes));
        if (figures.unshown > 0)
            notes.push_back(QStringLiteral("%1: %2 of %3 lines had no damage after them")
                                .arg(QString::fromLatin1(plotter.label))
                                .arg(figures.unshown)
                                .arg(figures.unshown + figures.delays));
    }
    for (const QString &note : notes)
        std::printf("%s\n", qPrintable(note));
    std::printf(
        "CPU s/s: CPU time of the program and every process it started, per second, and per "
        "redraw; Xvfb s/s: the X server's. RSS: the processes' sum, at the start of the count "
        "and at the end.\n"
        "redraws/s: the X server's damage reports on the program's windows, those less than "
        "%.0f ms apart as one. write->damage: for each line, the time from its write to the "
        "first damage after it, a lower bound of the line's way to the screen.\n"
        "kst2 reads the file as it grows, its period between updates set to 20 ms; feedgnuplot "
        "reads bare "
        "columns on its standard input and replots every 20 ms at most; the scope reads the "
        "same numbers labelled (t=<ms> a=...) on its standard input.\n",
        kSameRedrawMs);
}

#endif

} // namespace liveplot
