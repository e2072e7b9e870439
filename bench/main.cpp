// SPDX-License-Identifier: MIT
// pidtune-bench: prints how fast the window starts, how soon a release reaches the device, what
// the pure functions cost and how much memory the window holds, each next to a bare QMainWindow
// of the same size in the same binary; then what pidtune-scope's relay adds to a release, and
// what the scope costs next to other live plotters. Figures only; nothing here passes or fails.
#include "app/mainwindow.h"
#include "firstframe.h"
#include "liveplot.h"
#include "processinfo.h"
#include "pseudoterminal.h"
#include "scopehistory.h"
#include "serial/parameterframe.h"
#include "stats.h"
#include "stress.h"
#include "testwindow.h"
#include "ui/channelvalues.h"

#include <QtTest>
#include <QtWidgets>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#if defined(Q_OS_UNIX)
#include <poll.h>
#include <sys/utsname.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Quits the application right after the window's first paint has been delivered.
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(std::function<void()> then) : done(std::move(then)) { }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            QTimer::singleShot(0, watched, done);
        }
        return false;
    }

private:
    std::function<void()> done;
    bool seen = false;
};

// Child process: build and show one window, wait for its first paint, then either exit at once
// (start-up time) or idle a moment and report resident memory.
int runChild(int argc, char *argv[], const QByteArray &kind, bool reportMemory)
{
    QApplication app(argc, argv);
    std::unique_ptr<QMainWindow> window;
    if (kind == "window") {
        window = std::make_unique<MainWindow>();
    } else {
        window = std::make_unique<QMainWindow>();
        window->setFixedSize(877, 393);
        // The captions' glyphs alone: what any window showing this Chinese text pays for fonts.
        if (kind == "captions")
            window->setCentralWidget(
                new QLabel(QStringLiteral("串口号: 打开串口 标识符: Min: Max: 使能")));
    }
    FirstPaint filter([&] {
        if (!reportMemory) {
            QCoreApplication::quit();
            return;
        }
        QTimer::singleShot(500, [] {
            std::printf("%lld\n", processinfo::residentKiB());
            QCoreApplication::quit();
        });
    });
    window->installEventFilter(&filter);
    window->show();
    return app.exec();
}

std::vector<double> timeChildren(const QString &kind, int runs, const QStringList &extra = {})
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const auto start = Clock::now();
        child.start(QCoreApplication::applicationFilePath(),
                    QStringList {QStringLiteral("--child"), kind} + extra);
        if (!child.waitForFinished(30000) || child.exitCode() != 0) {
            std::fprintf(stderr, "child %s failed\n", qPrintable(kind));
            std::exit(1);
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (extra.contains(QStringLiteral("--memory")))
            ms.back() = child.readAllStandardOutput().trimmed().toDouble() / 1024.0; // MiB
    }
    return ms;
}

QString machine()
{
    QString cpu = QStringLiteral("unknown CPU");
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (info.open(QIODevice::ReadOnly | QIODevice::Text)) {
        for (const QByteArray &line : info.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                cpu = QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
                break;
            }
        }
    }
    QString kernel;
#if defined(Q_OS_UNIX)
    utsname name {};
    if (::uname(&name) == 0)
        kernel = QStringLiteral("%1 %2").arg(QString::fromLatin1(name.sysname),
                                             QString::fromLatin1(name.release));
#endif
    return QStringLiteral("%1, %2 logical cores; %3; Qt %4; %5")
        .arg(cpu)
        .arg(QThread::idealThreadCount())
        .arg(kernel, QString::fromLatin1(qVersion()),
#if defined(__clang__)
             QStringLiteral("clang " __clang_version__)
#elif defined(__GNUC__)
             QStringLiteral("gcc " __VERSION__)
#else
             QStringLiteral("unknown compiler")
#endif
        );
}

// pidtune's window with channel 1 set up on a port, and the device's end of that line: each
// release timed up to the moment the device side can read all 9 bytes.
class ReleaseRig
{
public:
    bool open(const QString &port, int deviceDescriptor)
    {
        device = deviceDescriptor;
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return false;
        testwindow::openPort(window, port);
        testwindow::setUpChannel(window, 1, QStringLiteral("3"), QStringLiteral("-1000"),
                                 QStringLiteral("1000"));
        slider = testwindow::channel(window, 1).slider;
        QCoreApplication::processEvents();
        return true;
    }

    // Appends each release's microseconds; false if the device stopped receiving.
    bool measure(int releases, std::vector<double> &us)
    {
        us.reserve(us.size() + std::size_t(releases));
        for (int i = 0; i < releases; ++i) {
            slider->setValue(random.bounded(slider->minimum(), slider->maximum()));
            const QPoint handle = testwindow::handleCentre(slider);
            // The handle goes down untimed; only the release is measured.
            QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, handle);
            const auto start = Clock::now();
            QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, handle);
#if defined(Q_OS_UNIX)
            int got = 0;
            char buffer[64];
            while (got < 9) {
                pollfd pfd {device, POLLIN, 0};
                if (::poll(&pfd, 1, 1000) <= 0)
                    return false;
                const ssize_t n = ::read(device, buffer, sizeof buffer);
                if (n <= 0)
                    return false;
                got += int(n);
            }
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
#endif
            if (i % 100 == 0)
                QCoreApplication::processEvents();
        }
        return true;
    }

private:
    MainWindow window;
    QSlider *slider = nullptr;
    int device = -1;
    QRandomGenerator random {7};
};

// Release -> the 9 bytes readable on the device side, for many releases.
std::vector<double> releaseLatencies(int releases)
{
    PseudoTerminal device;
    if (!device.isValid()) {
        std::printf("release latency: skipped (%s)\n", qPrintable(device.reason()));
        return {};
    }
    ReleaseRig rig;
    if (!rig.open(device.slavePath(), device.masterDescriptor()))
        return {};
    device.takeReceived();
    std::vector<double> us;
    if (!rig.measure(releases, us))
        return {};
    return us;
}

// The same through pidtune-scope --relay, which holds the device's port while pidtune writes
// to the scope's pseudo-terminal: what the relay adds to a release. Blocks of releases through
// it take turns with direct ones, so that a busy moment of the machine falls on both.
void printRelayFigures(int releases)
{
    PseudoTerminal direct, relayed;
    if (!direct.isValid() || !relayed.isValid()) {
        std::printf("\nrelease through pidtune-scope --relay: skipped (%s)\n",
                    qPrintable(direct.isValid() ? relayed.reason() : direct.reason()));
        return;
    }
    QProcess scope;
    scope.setStandardErrorFile(QProcess::nullDevice());
    scope.start(QStringLiteral(PIDTUNE_SCOPE),
                {"--relay", relayed.slavePath(), "-platform", "offscreen"});
    QDeadlineTimer deadline(10000);
    while (!scope.canReadLine() && scope.waitForReadyRead(int(deadline.remainingTime()))) { }
    const QString first = QString::fromLocal8Bit(scope.readLine()).trimmed();
    const auto stopScope = [&scope] {
        scope.terminate();
        if (!scope.waitForFinished(5000)) {
            scope.kill();
            scope.waitForFinished(5000);
        }
    };
    if (!first.startsWith(QLatin1String("pty: "))) {
        std::printf("\nrelease through pidtune-scope --relay: skipped, the scope gave no "
                    "pseudo-terminal\n");
        stopScope();
        return;
    }
    ReleaseRig straight, through;
    std::vector<double> directUs, relayUs;
    bool ok = straight.open(direct.slavePath(), direct.masterDescriptor())
        && through.open(first.mid(5), relayed.masterDescriptor());
    direct.takeReceived();
    relayed.takeReceived();
    const int block = 500;
    for (int done = 0; ok && done < releases; done += block)
        ok = straight.measure(block, directUs) && through.measure(block, relayUs);
    stopScope();
    if (!ok) {
        std::printf("\nrelease through pidtune-scope --relay: skipped, a device stopped "
                    "receiving\n");
        return;
    }
    std::printf("\nrelease -> device, %d releases each, in blocks of %d taking turns\n", releases,
                block);
    std::printf("%-46s %10s %10s %10s\n", "path", "p50 us", "p99 us", "max us");
    std::printf("%-46s %10.1f %10.1f %10.1f\n", "direct", percentile(directUs, 0.50),
                percentile(directUs, 0.99), *std::max_element(directUs.begin(), directUs.end()));
    std::printf("%-46s %10.1f %10.1f %10.1f\n", "through pidtune-scope --relay",
                percentile(relayUs, 0.50), percentile(relayUs, 0.99),
                *std::max_element(relayUs.begin(), relayUs.end()));
    std::printf("%-46s %10.1f %10.1f\n", "added by the relay",
                percentile(relayUs, 0.50) - percentile(directUs, 0.50),
                percentile(relayUs, 0.99) - percentile(directUs, 0.99));
}

template<typename F> double nanosecondsPerCall(F &&call, int calls)
{
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i)
        call(i);
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / calls;
}

} // namespace

const char kUsage[]
    = "usage: pidtune-bench [--scope] [--scope-seconds SECONDS]\n"
      "Prints figures; nothing passes or fails.\n"
      "  --scope                  only pidtune-scope's figures: a release through its relay,\n"
      "                           its history of minutes, live plotting next to kst2 and\n"
      "                           feedgnuplot on Xvfb in four\n"
      "                           workloads, the scope's delay from a line's arrival to its\n"
      "                           pixels, and its goals\n"
      "  --scope-seconds SECONDS  how long each live plotter is fed (default 30, at least 5)\n";

int main(int argc, char *argv[])
{
    if (argc >= 3 && qstrcmp(argv[1], "--child") == 0) {
        const bool memory = argc >= 4 && qstrcmp(argv[3], "--memory") == 0;
        return runChild(argc, argv, QByteArray(argv[2]), memory);
    }
    bool scopeOnly = false;
    double scopeSeconds = 30;
    for (int i = 1; i < argc; ++i) {
        bool valid = true;
        if (qstrcmp(argv[i], "--scope") == 0) {
            scopeOnly = true;
        } else if (qstrcmp(argv[i], "--scope-seconds") == 0 && i + 1 < argc) {
            scopeSeconds = QByteArray(argv[++i]).toDouble(&valid);
            valid = valid && scopeSeconds >= 5 && scopeSeconds <= 3600;
        } else if (qstrcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            valid = false;
        }
        if (!valid) {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }

    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    qputenv("QT_LOGGING_RULES", "default.debug=false");
    // Children inherit this; without it every one of them warns about a missing runtime dir.
    QTemporaryDir runtimeDir;
    if (qgetenv("XDG_RUNTIME_DIR").isEmpty()) {
        QFile::setPermissions(runtimeDir.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());
    }
    QApplication app(argc, argv);
    const int startRuns = 21;
    const int releases = 10000;

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("pidtune-bench on %s\n", qPrintable(machine()));
    std::printf("platform plugin: %s\n", qPrintable(QGuiApplication::platformName()));
    if (scopeOnly) {
        printRelayFigures(5000);
        scopehistory::printFigures();
        liveplot::printFigures(scopeSeconds);
        return 0;
    }
    std::printf("\n");

    // Interleave the two kinds so that a busy moment of the machine hits both alike.
    std::vector<double> windowMs, bareMs, captionsMs;
    for (int i = 0; i < startRuns; ++i) {
        windowMs.push_back(timeChildren(QStringLiteral("window"), 1).front());
        bareMs.push_back(timeChildren(QStringLiteral("bare"), 1).front());
        captionsMs.push_back(timeChildren(QStringLiteral("captions"), 1).front());
    }
    const double windowStart = median(windowMs), bareStart = median(bareMs),
                 captionsStart = median(captionsMs);

    const QStringList memory {QStringLiteral("--memory")};
    const double windowMiB = median(timeChildren(QStringLiteral("window"), 5, memory));
    const double bareMiB = median(timeChildren(QStringLiteral("bare"), 5, memory));
    const double captionsMiB = median(timeChildren(QStringLiteral("captions"), 5, memory));

    const std::vector<double> latency = releaseLatencies(releases);

    volatile std::uint8_t sink = 0;
    const double encodeNs = nanosecondsPerCall(
        [&](int i) { sink = sink + pidtune::encodeParameterFrame(i, float(i) * 0.5f)[8]; },
        5000000);
    const double formatNs = nanosecondsPerCall(
        [&](int i) {
            sink = sink
                + std::uint8_t(
                       pidtune::valueText(int((std::uint32_t(i) * 7919u) & 0x7FFFFFFFu)).size());
        },
        500000);
    const double boundNs = nanosecondsPerCall(
        [&](int i) {
            sink = sink
                + std::uint8_t(*pidtune::boundFromText(i % 2 ? QStringLiteral("0.7")
                                                             : QStringLiteral("21474.8")));
        },
        500000);

    std::printf("%-46s %10s %10s %8s %10s %8s\n", "measure", "pidtune", "bare", "vs bare",
                "captions", "vs capt.");
    std::printf("%-46s %10.1f %10.1f %8.3f %10.1f %8.3f\n",
                "start-up to first paint, median ms (21 runs)", windowStart, bareStart,
                windowStart / bareStart, captionsStart, windowStart / captionsStart);
    std::printf("%-46s %10.2f %10.2f %+8.2f %10.2f %+8.2f\n",
                "idle resident memory, median MiB (5 runs)", windowMiB, bareMiB,
                windowMiB - bareMiB, captionsMiB, windowMiB - captionsMiB);
    if (!latency.empty()) {
        std::printf("%-46s %10.1f\n", "release -> device, p50 us (10000 releases)",
                    percentile(latency, 0.50));
        std::printf("%-46s %10.1f\n", "release -> device, p99 us", percentile(latency, 0.99));
        std::printf("%-46s %10.1f\n", "release -> device, max us",
                    *std::max_element(latency.begin(), latency.end()));
    }
    std::printf("%-46s %10.1f\n", "frame encoding, ns per call", encodeNs);
    std::printf("%-46s %10.1f\n", "value text formatting, ns per call", formatNs);
    std::printf("%-46s %10.1f\n", "bound from Min/Max text, ns per call", boundNs);
    std::printf("\nbare: an empty QMainWindow of the same size; captions: the same window showing "
                "the panel's captions in one label.\n"
                "9 bytes take 781 us on the wire at 115200 baud (10 bits per byte).\n\n");
    printStressFigures();
    firstframe::printFigures(30);
    printRelayFigures(5000);
    scopehistory::printFigures();
    liveplot::printFigures(scopeSeconds);
    return 0;
}
