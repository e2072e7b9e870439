// SPDX-License-Identifier: MIT
// pidtune-scope next to the live plotters Debian packages: kst2, which reads a file as it grows,
// and feedgnuplot --stream, which pipes what it reads on standard input to gnuplot and its X11
// terminal. All three get the same lines at the same pace on an Xvfb of the bench's own, one
// program after the other so that none takes CPU time from another, and all three are watched
// from outside in the same way: CPU time and resident memory of the program's processes from
// /proc, and its redraws as the X server sees them through the DAMAGE extension. Nothing is
// asked of the programs themselves, so the scope runs unchanged, as an operator starts it.
// The scope then runs once more with markers in its stream, and its window is read back from
// the X server after each damage to see when each marker's pixels are there.
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

// The scope's arrival-to-pixels run. One line in every 700 (0.7 s, which does not divide the
// 10 s view, so that a marker entering the view and one leaving it never come together) sets
// series a to +19 on a fixed -20..20 axis where all other values stay within +-10: a vertical
// line of a's colour up into the top band of the plot, where nothing else draws that colour.
constexpr qint64 kMarkerEvery = 700; // lines
constexpr double kMarkerValue = 19;
constexpr double kMarkedScale = 10;
constexpr double kMarkedRange = 20; // --y-range -20:20
constexpr double kMarkerRowValue = 18; // the pixel row read back, inside the band
constexpr double kStripMs = 400; // the part of the plot read back, before its right edge
constexpr std::uint32_t kMarkerColour = 0x1f77b4; // the scope's first series colour

bool isMarker(qint64 line)
{
    return line > 0 && line % kMarkerEvery == 0;
}

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
// With `markers`, the scope's arrival-to-pixels run: the values ten times larger, so that they
// fill the lower half of its fixed range as they fill its auto-scaled one in the main run, and
// every marker line's a at the top of the range instead.
QByteArray streamLine(qint64 n, bool labelled, bool markers = false)
{
    const double t = double(n) / kLinesPerSecond;
    const double pi = 3.14159265358979323846;
    const double scale = markers ? kMarkedScale : 1;
    const double a = markers && isMarker(n) ? kMarkerValue : scale * std::sin(2 * pi * 0.2 * t);
    const double b = scale * (0.5 * std::sin(2 * pi * 1.3 * t) + 0.2);
    const double c = scale * (double(n % 2000) / 1000 - 1);
    const std::uint32_t hash = std::uint32_t(n) * 2654435761u;
    const double d = scale * (0.3 * double(hash >> 22) / 1024 - 0.6);
    char text[128];
    const int size = labelled
        ? std::snprintf(text, sizeof text, "t=%lld a=%.4f b=%.4f c=%.4f d=%.4f\n", qint64(n), a, b,
                        c, d)
        : std::snprintf(text, sizeof text, "%.3f %.4f %.4f %.4f %.4f\n", t, a, b, c, d);
    return QByteArray(text, size);
}

// A marker that looked new in the strip of the plot read back.
struct Sighting
{
    double at; // ms after the origin: when the readback that showed it had come back
    double ageMs; // at least this much of the scope's newer data was drawn to its right
    qint64 lines; // lines written in full by the time of its damage
};

struct ArrivalFigures
{
    qsizetype markers = 0; // written while watched
    qsizetype seen = 0;
    qsizetype strays = 0; // sightings that fit no marker
    qsizetype belowBound = 0; // seen sooner than the first damage after their write
    std::vector<double> delays, bounds; // ms, of the markers seen
    qsizetype byRedraw[3]
        = {}; // shown by the first redraw after the write, the second, a later one
};

// Reads the scope's window back from the X server after each of its damages and notes when a
// marker first shows near the right edge of its plot: one pixel row of the top band, across
// the plot's last kStripMs. The plot is found once in the pixels, as its black frame, so that
// nothing of the scope's layout is assumed but its axis mapping.
class MarkerWatch
{
public:
    explicit MarkerWatch(xcb_connection_t *connection) : connection(connection)
    {
        const xcb_setup_t *setup = xcb_get_setup(connection);
        const xcb_screen_t *screen = xcb_setup_roots_iterator(setup).data;
        bool rgb = false;
        for (auto depth = xcb_screen_allowed_depths_iterator(screen); depth.rem;
             xcb_depth_next(&depth)) {
            for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem;
                 xcb_visualtype_next(&visual)) {
                if (visual.data->visual_id == screen->root_visual)
                    rgb = visual.data->red_mask == 0xff0000 && visual.data->green_mask == 0xff00
                        && visual.data->blue_mask == 0xff;
            }
        }
        bool wide = false;
        for (auto format = xcb_setup_pixmap_formats_iterator(setup); format.rem;
             xcb_format_next(&format))
            wide = wide || (format.data->depth == 24 && format.data->bits_per_pixel == 32);
        lsbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
        if (!rgb || !wide)
            trouble = QStringLiteral("the X server's pixels are not 8-bit RGB in 32 bits");
    }

    // After a damage of `window`, with `lines` lines written in full so far.
    void damaged(xcb_window_t damagedWindow, qint64 lines, Clock::time_point origin)
    {
        const auto since = [&] {
            return std::chrono::duration<double, std::milli>(Clock::now() - origin).count();
        };
        if (window == 0) {
            // A whole window's readback is 4 MB: twice a second until the plot is found.
            const double now = since();
            if (now - lastSearch < 500)
                return;
            lastSearch = now;
            QRect found;
            if (!findFrame(damagedWindow, &found))
                return;
            window = damagedWindow;
            frame = found;
            const int width = frame.right() - frame.left(), height = frame.bottom() - frame.top();
            msPerPixel = kViewSeconds * 1000 / width;
            // The axis as the plot maps it: its bottom row is the range's low end.
            row = frame.bottom() - 1
                - int(std::lround((kMarkerRowValue + kMarkedRange) * height / (2 * kMarkedRange)));
            stripWidth = std::min(width - 1, int(std::ceil(kStripMs / msPerPixel)));
            previous = rightmostMarker(); // whatever shows now is old
            locatedAt = since();
            return;
        }
        if (damagedWindow != window)
            return;
        const auto asked = Clock::now();
        const int at = rightmostMarker();
        const double now = since();
        slowestReadMs = std::max(
            slowestReadMs, std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
        // A marker only moves left; one further right than the last is the next.
        if (at >= 0 && (previous < 0 || at > previous + 2))
            sightings.push_back({now, std::max(0, frame.right() - 2 - at) * msPerPixel, lines});
        previous = at;
    }

    // Whether the plot is still where it was found: a layout change would have moved the strip.
    void checkFrame()
    {
        QRect now;
        frameHeld = window != 0 && findFrame(window, &now) && now == frame;
    }

    // Each sighting is the newest marker that the scope can have drawn that far from its
    // newest line, given the lines written by then; markers are 0.7 s apart, so this holds as
    // long as the scope's newest line lags less than about that behind the bench's.
    ArrivalFigures figures(const std::vector<double> &written, const std::vector<double> &frames,
                           double from, double end) const
    {
        ArrivalFigures f;
        std::map<qint64, double> shown;
        qint64 last = 0;
        for (const Sighting &s : sightings) {
            const double newest = double(s.lines - 1) - s.ageMs * kLinesPerSecond / 1000;
            const qint64 marker = qint64(std::floor(newest / kMarkerEvery)) * kMarkerEvery;
            if (marker <= last) {
                ++f.strays;
                continue;
            }
            last = marker;
            shown[marker] = s.at;
        }
        from = std::max(from, locatedAt);
        for (qint64 n = kMarkerEvery; n < qint64(written.size()); n += kMarkerEvery) {
            const double at = written[std::size_t(n)];
            if (at < from || at >= end)
                continue;
            ++f.markers;
            const auto sighting = shown.find(n);
            if (sighting == shown.end())
                continue;
            ++f.seen;
            f.delays.push_back(sighting->second - at);
            const auto first = std::lower_bound(frames.begin(), frames.end(), at);
            if (first != frames.end()) {
                f.bounds.push_back(*first - at);
                if (*first > sighting->second)
                    ++f.belowBound;
            }
            const auto redraws = std::upper_bound(first, frames.end(), sighting->second) - first;
            ++f.byRedraw[std::clamp<std::ptrdiff_t>(redraws, 1, 3) - 1];
        }
        return f;
    }

    QString trouble; // why the pixels cannot be read, if so
    double locatedAt = -1; // ms after the origin, once the plot is found
    QRect frame; // the plot's frame in the window, its lines included
    bool frameHeld = false;
    int row = 0, stripWidth = 0;
    double slowestReadMs = 0;
    std::vector<Sighting> sightings;

private:
    // The window's pixels as 0xRRGGBB, row after row; empty if the server gave none.
    std::vector<std::uint32_t> read(xcb_window_t from, int x, int y, int width, int height) const
    {
        std::vector<std::uint32_t> pixels;
        xcb_generic_error_t *error = nullptr;
        xcb_get_image_reply_t *reply = xcb_get_image_reply(
            connection,
            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, from, int16_t(x), int16_t(y),
                          uint16_t(width), uint16_t(height), ~0u),
            &error);
        std::free(error);
        if (!reply)
            return pixels;
        const std::size_t count = std::size_t(width) * std::size_t(height);
        if ((reply->depth == 24 || reply->depth == 32)
            && std::size_t(xcb_get_image_data_length(reply)) >= count * 4) {
            const uint8_t *data = xcb_get_image_data(reply);
            pixels.resize(count);
            for (std::size_t i = 0; i < count; ++i, data += 4)
                pixels[i] = lsbFirst ? uint32_t(data[0] | data[1] << 8 | data[2] << 16)
                                     : uint32_t(data[3] | data[2] << 8 | data[1] << 16);
        }
        std::free(reply);
        return pixels;
    }

    // The strip's rightmost column in the marker's colour, counted in the window; -1 if none.
    int rightmostMarker() const
    {
        const int left = frame.right() - stripWidth;
        const std::vector<std::uint32_t> strip = read(window, left, row, stripWidth, 1);
        for (int i = int(strip.size()) - 1; i >= 0; --i) {
            if (strip[std::size_t(i)] == kMarkerColour)
                return left + i;
        }
        return -1;
    }

    // The plot's frame: the one black rectangle at least a third of the window wide.
    bool findFrame(xcb_window_t in, QRect *found) const
    {
        xcb_get_geometry_reply_t *geometry
            = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, in), nullptr);
        if (!geometry)
            return false;
        const int width = geometry->width, height = geometry->height;
        std::free(geometry);
        const std::vector<std::uint32_t> image = read(in, 0, 0, width, height);
        if (image.empty())
            return false;
        const auto black = [&](int x, int y) {
            return image[std::size_t(y) * std::size_t(width) + std::size_t(x)] == 0;
        };
        int top = -1, bottom = -1, left = 0, right = 0;
        for (int y = 0; y < height; ++y) {
            int longest = 0, start = 0, run = 0;
            for (int x = 0; x < width; ++x) {
                run = black(x, y) ? run + 1 : 0;
                if (run > longest) {
                    longest = run;
                    start = x - run + 1;
                }
            }
            if (longest < width / 3)
                continue;
            if (top < 0) {
                top = y;
                left = start;
                right = start + longest - 1;
            } else if (start == left && start + longest - 1 == right) {
                bottom = y;
            }
        }
        if (top < 0 || bottom < top + 50)
            return false;
        // The curves are clipped to the plot with its left and top line, so they may cover
        // some of the frame's left side.
        int covered = 0;
        for (int y = top; y <= bottom; ++y)
            covered += black(left, y) && black(right, y) ? 0 : 1;
        if (covered > (bottom - top) / 10)
            return false;
        *found = QRect(QPoint(left, top), QPoint(right, bottom));
        return true;
    }

    xcb_connection_t *const connection;
    bool lsbFirst = true;
    xcb_window_t window = 0;
    double msPerPixel = 1;
    int previous = -1;
    double lastSearch = -1e9;
};

class Run
{
public:
    // With `markers`, the stream carries markers and each damage is read back for them.
    Run(Xvfb &x, const Plotter &plotter, double seconds, MarkerWatch *markers = nullptr)
        : x(x), plotter(plotter), seconds(seconds), markers(markers)
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
                watchMarkers = markers != nullptr;
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
        if (markers)
            arrival = markers->figures(written, frames, countFrom, end);
        return true;
    }

    const ArrivalFigures &arrivalFigures() const { return arrival; }

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
        pending += streamLine(n, plotter.labelled, markers != nullptr);
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
                    if (watchMarkers)
                        markers->damaged(damage->drawable, qint64(written.size()), origin);
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
    MarkerWatch *const markers;
    bool watchMarkers = false; // from the start of the count on
    ArrivalFigures arrival;
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

// The scope again, alone, with markers in its stream: from a marker line's write to the moment
// its pixels are in the window the X server holds. `lowerBound`: the main run's write -> damage
// figures for the scope, if it was measured.
void printArrival(Xvfb &x, const Plotter &scope, double seconds, const Figures *lowerBound)
{
    std::printf("\npidtune-scope, arrival to pixels, a run of its own: the same stream with its "
                "values times %.0f on a fixed axis (--y-range -%.0f:%.0f), and every %lld ms one "
                "line with a = %+.0f, a marker; counted from %.0f s on\n",
                kMarkedScale, kMarkedRange, kMarkedRange, qint64(kMarkerEvery), kMarkerValue,
                kSettleSeconds);
    Plotter plotter = scope;
    plotter.arguments
        = QStringList {"--y-range", QStringLiteral("-%1:%1").arg(kMarkedRange)} + scope.arguments;
    MarkerWatch markers(x.connection());
    if (!markers.trouble.isEmpty()) {
        std::printf("skipped, %s\n", qPrintable(markers.trouble));
        return;
    }
    Figures figures;
    QString why;
    Run run(x, plotter, seconds, &markers);
    if (!run.measure(figures, &why)) {
        std::printf("skipped, the scope %s\n", qPrintable(why));
        return;
    }
    if (markers.locatedAt < 0) {
        std::printf("skipped, no black frame of a plot in the scope's window\n");
        return;
    }
    const ArrivalFigures &f = run.arrivalFigures();
    const double p99 = percentile(f.delays, 0.99);
    const char *goal = f.seen == 0 ? "cannot be told"
        : f.seen < f.markers       ? "does not hold (markers unseen)"
        : p99 <= 50                ? "holds"
                                   : "does not hold";
    std::printf("markers written %lld, seen %lld, never seen %lld; write -> pixels p50 %.1f ms, "
                "p99 %.1f ms, max %.1f ms: p99 at most 50 ms %s\n",
                qint64(f.markers), qint64(f.seen), qint64(f.markers - f.seen),
                percentile(f.delays, 0.50), p99,
                f.delays.empty() ? 0.0 : *std::max_element(f.delays.begin(), f.delays.end()), goal);
    std::printf("shown by the first damage after the write %lld times, by the second %lld, by a "
                "later one %lld; %.1f redraws/s, write -> damage of all lines p50 %.1f, p99 %.1f "
                "ms\n",
                qint64(f.byRedraw[0]), qint64(f.byRedraw[1]), qint64(f.byRedraw[2]),
                figures.redrawsPerSecond, figures.delayP50, figures.delayP99);
    std::printf("check: the same markers' write -> damage, the lower bound, p50 %.1f, p99 %.1f ms; "
                "markers seen before it: %lld",
                percentile(f.bounds, 0.50), percentile(f.bounds, 0.99), qint64(f.belowBound));
    if (lowerBound)
        std::printf("; the main run's p50 %.1f, p99 %.1f ms", lowerBound->delayP50,
                    lowerBound->delayP99);
    std::printf("\n");
    if (f.strays > 0)
        std::printf("%lld sightings fitted no marker\n", qint64(f.strays));
    if (!markers.frameHeld)
        std::printf("the plot's frame moved during the run: the figures above are not to be "
                    "trusted\n");
    std::printf(
        "write -> pixels: from the marker line's write into the scope's standard input pipe to "
        "the first readback that shows its pixels in the X server's copy of the window. After "
        "each damage the bench reads back (xcb_get_image) the plot's pixel row at %+.0f across "
        "its last %.0f ms, %d px of the %dx%d plot, found once as its black frame (slowest "
        "readback %.1f ms). It includes the scope's parsing, its redraw cap, its paint and its "
        "flush. A marker never seen did not show within %.0f ms of the plot's right edge.\n",
        kMarkerRowValue, kStripMs, markers.stripWidth, markers.frame.width() - 1,
        markers.frame.height() - 1, markers.slowestReadMs, kStripMs);
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
    const std::vector<Plotter> all = plotters();
    Figures scopeFigures;
    bool scopeMeasured = false;
    for (const Plotter &plotter : all) {
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
        if (&plotter == &all.front()) {
            scopeFigures = figures;
            scopeMeasured = true;
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
    printArrival(x, all.front(), seconds, scopeMeasured ? &scopeFigures : nullptr);
}

#endif

} // namespace liveplot
