// SPDX-License-Identifier: MIT
// The example firmware on emulated boards, at the other end of the window's serial port: what
// it reports on its log for each slider release, byte for byte, and what it does with more
// frames than it can take at once.
#include "app/mainwindow.h"
#include "emulator.h"
#include "pseudoterminal.h"
#include "source.h"
#include "telemetry.h"
#include "testwindow.h"

#include <QtTest>
#include <QtWidgets>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

using namespace testwindow;

namespace {

constexpr int kLineTimeoutMs = 10000; // QEMU looks for a client on its terminal once a second

struct Board
{
    QString program;
    QStringList arguments;
    QString missing; // why this board cannot run here
    QByteArray ready; // its first log line
};

Board board(const QString &name)
{
    Board b;
    if (name == QLatin1String("mps2-an385")) {
        b.program = QStandardPaths::findExecutable(QStringLiteral("qemu-system-arm"));
        b.arguments = QStringList {QStringLiteral("-machine"), name}
            + QStringLiteral("-nodefaults -nic none -display none -monitor none -serial pty "
                             "-serial stdio -kernel") // UART0 for the window, UART1 the log
                  .split(QLatin1Char(' '))
            + QStringList {QStringLiteral(PIDTUNE_FIRMWARE_MPS2)};
        if (!*PIDTUNE_FIRMWARE_MPS2)
            b.missing = QStringLiteral("no arm-none-eabi-gcc when this build was configured: "
                                       "apt-get install gcc-arm-none-eabi libnewlib-arm-none-eabi");
        else if (b.program.isEmpty())
            b.missing = QStringLiteral("no qemu-system-arm: apt-get install qemu-system-arm");
        b.ready = "ready board=mps2-an385 int=32 slots=16\r\n";
    } else {
        b.program = QStringLiteral(PIDTUNE_SIMAVR_PTY);
        b.arguments = QStringList {QStringLiteral(PIDTUNE_FIRMWARE_AVR)};
        if (!*PIDTUNE_FIRMWARE_AVR)
            b.missing = QStringLiteral("no avr-gcc when this build was configured: apt-get "
                                       "install gcc-avr avr-libc");
        else if (b.program.isEmpty())
            b.missing = QStringLiteral("no libsimavr when this build was configured: apt-get "
                                       "install libsimavr-dev");
        b.ready = "ready board=atmega328p int=16 slots=16\r\n";
    }
    // CI installs every tool: there a missing one is a failure, not a skip.
    if (!b.missing.isEmpty() && qEnvironmentVariableIsSet("PIDTUNE_REQUIRE_FIRMWARE_TOOLS"))
        b.missing.prepend(QStringLiteral("FAIL: "));
    return b;
}

void addBoards()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("mps2-an385") << QStringLiteral("mps2-an385");
    QTest::newRow("atmega328p") << QStringLiteral("atmega328p");
}

// The same serial line, opened by the test beside the window, to write to it directly.
struct Line
{
    explicit Line(const QString &path) : fd(::open(qPrintable(path), O_RDWR | O_NOCTTY)) { }
    ~Line() { ::close(fd); }
    bool write(const QByteArray &bytes) const
    {
        return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    const int fd;
};

} // namespace

class FirmwareTest : public QObject
{
    Q_OBJECT

private slots:
    void reportsEachRelease_data() { addBoards(); }
    void reportsEachRelease();
    void floodWhileTheLogStalls_data() { addBoards(); }
    void floodWhileTheLogStalls();
    void burstOnALineWithoutFlowControl();
    void scopeMarksTheGainsOfEachStep_data() { addBoards(); }
    void scopeMarksTheGainsOfEachStep();
    void scopeTunesTheLoop();
};

// Starts the board (the log not read but by the test) and the window beside it.
#define START_BOARD(b, emulator, window)                                                           \
    if (b.missing.startsWith(QLatin1String("FAIL: ")))                                             \
        QFAIL(qPrintable(b.missing));                                                              \
    if (!b.missing.isEmpty())                                                                      \
        QSKIP(qPrintable(b.missing));                                                              \
    Emulator emulator(b.program.contains(QLatin1String("qemu")));                                  \
    QVERIFY2(emulator.start(b.program, b.arguments), qPrintable(emulator.error()));                \
    QCOMPARE(emulator.nextLine(kLineTimeoutMs), b.ready);                                          \
    MainWindow window;                                                                             \
    window.show();                                                                                 \
    QVERIFY(QTest::qWaitForWindowExposed(&window))

void FirmwareTest::reportsEachRelease()
{
    QFETCH(QString, name);
    START_BOARD(board(name), emulator, window);
    const Line line(emulator.ptyPath());
    openPort(window, emulator.ptyPath());

    enum How { Press = -1, ToMin = -2, ToMax = -3 }; // or a slider position to press at
    struct Release
    {
        int channel;
        const char *identifier, *min, *max; // null: the channel as it was left
        int how;
        const char *noise; // hex, written to the line just before the release
        const char *report;
    };
    const Release releases[] = {
        {1, "0", "-1.5", "2", ToMin, nullptr, "param id=0 value=-1.5 bits=bfc00000 skipped=0"},
        {2, "255", "0", "12.34567", ToMax, nullptr,
         "param id=255 value=12.3457 bits=414587fd skipped=0"},
        {3, "44", "0", "0.7", ToMax, nullptr, "param id=44 value=0.69999 bits=3f33328b skipped=0"},
        // The set-point's limit is +-100; the firmware shows the float's value to 5 decimals.
        {4, "5", "-21474.8", "0", ToMin, nullptr,
         "reject id=5 value=-21474.80078 bits=c6a7c59a reason=range skipped=0"},
        {5, "1", "0", "10", 250000, nullptr, "param id=1 value=2.5 bits=40200000 skipped=0"},
        {6, "128", "0", "0.0001", 1, nullptr, "param id=128 value=0.00001 bits=3727c5ac skipped=0"},
        // Two bytes of noise, then a frame for identifier 7 cut after its 7th byte: the window's
        // next frame completes it with 05 FA, a value far out of range, and the rest of the
        // window's frame is noise.
        {3, nullptr, nullptr, nullptr, Press, "00 FF 05 FA 06 07 04 00 00",
         "reject id=7 value=-ovf bits=fa050000 reason=range skipped=2"},
        {3, nullptr, nullptr, nullptr, Press, nullptr,
         "param id=44 value=0.69999 bits=3f33328b skipped=9"},
    };
    for (const Release &release : releases) {
        const pidtune::ChannelWidgets row = channel(window, release.channel);
        if (release.identifier)
            setUpChannel(window, release.channel, QString::fromLatin1(release.identifier),
                         QString::fromLatin1(release.min), QString::fromLatin1(release.max));
        if (release.noise)
            QVERIFY2(line.write(QByteArray::fromHex(release.noise)), strerror(errno));
        if (release.how == ToMin || release.how == ToMax) {
            dragToEnd(row.slider, release.how == ToMax);
        } else {
            if (release.how != Press)
                row.slider->setValue(release.how);
            pressAndRelease(row.slider);
        }
        QVERIFY2(status(window).startsWith(QStringLiteral("已发送")), qPrintable(status(window)));
        QCOMPARE(emulator.nextReport(kLineTimeoutMs), QByteArray(release.report) + "\r\n");
    }
}

void FirmwareTest::floodWhileTheLogStalls()
{
    QFETCH(QString, name);
    START_BOARD(board(name), emulator, window);
    setUpChannel(window, 1, QStringLiteral("200"), QStringLiteral("0"), QStringLiteral("20000"));
    openPort(window, emulator.ptyPath());
    const auto report = [](int value) {
        const QByteArray frame = frameBytes(200, float(value));
        const quint32 bits = qFromLittleEndian<quint32>(frame.constData() + 5);
        return "param id=200 value=" + QByteArray::number(value)
            + " bits=" + QByteArray::number(bits, 16).rightJustified(8, '0') + " skipped=0\r\n";
    };

    const auto release = [&](int value) {
        channel(window, 1).slider->setValue(value * 100000);
        pressAndRelease(channel(window, 1).slider);
    };
    // Once the first frame is reported, QEMU has seen that the terminal is open and reads it.
    release(1);
    QCOMPARE(emulator.nextReport(kLineTimeoutMs), report(1));

    // The board stands still for 100 ms (test parameter 250) while 20 frames come, as if its log
    // were slow: its ring fills and it stops receiving, and then it must listen again.
    setUpChannel(window, 2, QStringLiteral("250"), QStringLiteral("0"), QStringLiteral("1000"));
    channel(window, 2).slider->setValue(100 * 100000);
    pressAndRelease(channel(window, 2).slider);
    int sent = 1;
    while (sent < 21)
        release(++sent);
    QCOMPARE(emulator.nextReport(kLineTimeoutMs),
             "param id=250 value=100 bits=42c80000 skipped=0\r\n");
    for (int value = 2; value <= sent; ++value)
        QCOMPARE(emulator.nextReport(kLineTimeoutMs), report(value));

    // Then nobody reads the log. Once it is full the board waits for it (QEMU's UART1 stays
    // full, simavr stops), its ring fills, and the line fills up until the window holds a frame.
    QTRY_VERIFY_WITH_TIMEOUT(emulator.logFull(), kLineTimeoutMs);
    do
        release(++sent);
    while (status(window).startsWith(QStringLiteral("已发送")) && sent < 20000);
    QVERIFY2(status(window).startsWith(QStringLiteral("设备未接收数据：1 帧等待发送")),
             qPrintable(status(window)));
    // Read again, the log has every frame, in order and whole, ...
    for (int value = 22; value <= sent; ++value)
        QCOMPARE(emulator.nextReport(kLineTimeoutMs), report(value));
    // ... and the loop's lines, whole: the stream every 20 ms of the board's clock, the state
    // lines beside the stream's of their millisecond. On the AVR, whose USART is paced, a flood
    // must not stop the loop: no more frames between two stream lines than the 26 the line carries
    // in 20 ms, and a few.
    qint64 t = 0;
    int states = 0, previous = 0, held = 0;
    QPair<int, qint64> from {-1, 0}, to; // reports before a stream line, and its t
    for (const Emulator::LoopLine &line : std::as_const(emulator.loopLines)) {
        const bool state = line.text.startsWith("state ");
        t += state ? 0 : 20;
        QCOMPARE(line.text,
                 (state ? "state t=" : "t=") + QByteArray::number(t) + " sp=0 y=0 u=0"
                     + (state ? " overruns=0\r\n" : "\r\n"));
        states += state;
        if (state)
            continue;
        QVERIFY2(line.reports - previous <= 40 || !name.startsWith(QLatin1String("atmega")),
                 line.text.constData());
        previous = line.reports;
        held += line.reports == 2; // after the hold's report, before frame 2's
        if (line.reports >= 100 && from.first < 0) // into the flood: frames were always waiting
            from = {line.reports, t};
        to = {line.reports, t};
    }
    // It did stand still: the 5 stream lines of those 100 ms came only after the hold.
    QVERIFY(held >= 4 && states > 0 && to.first > from.first);
    // QEMU does not pace its UART, and its clock is this machine's.
    qInfo("%s: %d frames while the log stalled; the board decoded and reported %.0f frames/s "
          "by its own clock",
          qPrintable(name), sent,
          (to.first - from.first) * 1000.0 / double(to.second - from.second));
}

void FirmwareTest::burstOnALineWithoutFlowControl()
{
    Board b = board(QStringLiteral("atmega328p"));
    b.arguments.prepend(QStringLiteral("--real-line")); // bytes come whether the chip is ready
    START_BOARD(b, emulator, window);
    const Line line(emulator.ptyPath());

    // Held up for 50 ms (test parameter 250) while 20 frames come at the line's pace: more than
    // the ring and the USART hold.
    QVERIFY2(line.write(frameBytes(250, 50.0f) + frameBytes(44, 0.69999f).repeated(20)),
             strerror(errno));
    // It loses bytes and counts them; by the second state line the burst is long over, ...
    for (int states = 0; states < 2;) {
        const QByteArray state = emulator.nextLine(kLineTimeoutMs);
        QVERIFY(!state.isEmpty());
        if (state.startsWith("state ") && ++states == 2)
            QVERIFY2(!state.endsWith(" overruns=0\r\n"), state.constData());
    }
    // ... and it hears the next frame, once 8 bytes have ended the one the burst left unfinished.
    QVERIFY2(line.write(QByteArray(8, '\0') + frameBytes(6, 1.25f)), strerror(errno));
    QByteArray report;
    do
        report = emulator.nextReport(kLineTimeoutMs);
    while (!report.isEmpty() && !report.startsWith("param id=6 value=1.25 bits=3fa00000 "));
    QVERIFY(!report.isEmpty());
}

// The window's releases go through the scope's relay to the board, whose log is the scope's
// telemetry, timed by the board's own clock: each step line carries the gains in force, and the
// loop answers each as P alone on the plant's tau of 0.5 s does, first order with tau/(1 + Kp)
// and a final value of Kp/(1 + Kp) of the set-point.
void FirmwareTest::scopeMarksTheGainsOfEachStep()
{
    using namespace pidtune::scope;
    QFETCH(QString, name);
    START_BOARD(board(name), emulator, window);
    QString error;
    const std::unique_ptr<Source> relay = openRelay(emulator.ptyPath(), 115200, &error);
    QVERIFY2(relay, qPrintable(error));
    Telemetry scope({"t", 1e-3, "sp", "y"});
    scope.parameters().setNames({{1, "Kp"}, {5, "sp"}});
    connect(relay.get(), &Source::parameterSent, &scope, &Telemetry::parameterSent);
    std::vector<StepMetrics> steps;
    connect(&scope, &Telemetry::stepMeasured, [&](const StepMetrics &step) {
        steps.push_back(step);
        qInfo("%s: %s", qPrintable(name), qPrintable(stepLine(step)));
    });
    setUpChannel(window, 1, QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("10"));
    setUpChannel(window, 5, QStringLiteral("5"), QStringLiteral("-100"), QStringLiteral("100"));
    openPort(window, relay->relayPath());
    // The log goes to the scope line by line until the condition holds; the time of the last
    // stream line fed, in ms, and of the one after each report.
    double t = -1;
    std::vector<double> afterReports;
    bool reported = false;
    const auto feedUntil = [&](const std::function<bool(const QByteArray &)> &done) {
        for (int lines = 0; lines < 2000; ++lines) {
            const QByteArray line = emulator.nextLine(kLineTimeoutMs);
            scope.feed(line);
            if (line.startsWith("t=")) {
                t = line.mid(2, line.indexOf(' ') - 2).toDouble();
                if (std::exchange(reported, false))
                    afterReports.push_back(t);
            }
            reported = reported || line.startsWith("param ");
            if (line.isEmpty() || done(line))
                return !line.isEmpty();
        }
        return false;
    };
    const auto release = [&](int n, int value) {
        channel(window, n).slider->setValue(value * 100000);
        pressAndRelease(channel(window, n).slider);
        const QByteArray report
            = "param id=" + QByteArray::number(n) + " value=" + QByteArray::number(value);
        return feedUntil([&](const QByteArray &line) { return line.startsWith(report + ' '); });
    };
    for (const int kp : {2, 8}) {
        // The gain, confirmed by the board; half a second of its clock to settle under it; then
        // the set-point's step, and its line.
        QVERIFY(release(1, kp));
        const double confirmed = t;
        QVERIFY(feedUntil([&](const QByteArray &) { return t >= confirmed + 500; }));
        // Steps the output's limit of 200 does not cut: Kp times the step's error within it.
        const int sp = kp == 2 ? 50 : 25;
        QVERIFY(release(5, sp));
        const size_t before = steps.size();
        QVERIFY(feedUntil([&](const QByteArray &) { return steps.size() > before; }));
        const StepMetrics &step = steps.back();
        QCOMPARE(step.params, QStringLiteral("Kp:%1,sp:%2").arg(kp).arg(sp));
        const double tau = 0.5 / (1 + kp);
        QVERIFY2(std::abs(step.rise / (std::log(9.0) * tau) - 1) < 0.05,
                 qPrintable(stepLine(step)));
        QVERIFY2(std::abs(step.error / (sp / (1.0 + kp)) - 1) < 0.05,
                 qPrintable(stepLine(step)));
    }
    // Each frame confirmed, and marked at the first stream line to arrive after it left: early by
    // the lines on their way to the scope then, so at or before the line after the board's report.
    const ParameterLog &log = scope.parameters();
    QCOMPARE(log.changes().size(), size_t(4));
    QStringList offsets;
    for (size_t i = 0; i < 4; ++i) {
        const ParameterChange &change = log.changes()[i];
        QCOMPARE(answerText(change), QStringLiteral("applied"));
        offsets << QString::number(change.time * 1000 - afterReports.at(i));
    }
    qInfo("%s: markers against the line after each report, ms: %s", qPrintable(name),
          qPrintable(offsets.join(QStringLiteral(", "))));
}

// From a blind start to a tuning, as docs/tuning.md walks through it: the scope models the plant
// (tau 0.5 s, gain 1) from a closed-loop step under P alone, its suggested PI released through
// the window gives the rise it predicted, a model finds the dead time the plant was given, and
// the relay's cycle has the amplitude and period the plant's exact formulas give.
void FirmwareTest::scopeTunesTheLoop()
{
    START_BOARD(board(QStringLiteral("mps2-an385")), emulator, window);
    struct Channel
    {
        int slot;
        const char *identifier, *min, *max;
    };
    for (const Channel &c : {Channel {1, "1", "0", "10"}, Channel {2, "2", "0", "50"},
                             Channel {3, "7", "0", "1"}, Channel {4, "4", "0", "100"},
                             Channel {5, "5", "-100", "100"}, Channel {6, "9", "0", "0.2"}})
        setUpChannel(window, c.slot, QString::fromLatin1(c.identifier), QString::fromLatin1(c.min),
                     QString::fromLatin1(c.max));
    openPort(window, emulator.ptyPath());

    using namespace pidtune::scope;
    Telemetry scope({"t", 1e-3, "sp", "y"});
    std::optional<StepModel> model;
    std::optional<StepMetrics> measured;
    std::optional<Prediction> predicted;
    std::optional<RelayTuning> relay;
    connect(&scope, &Telemetry::stepMeasured, [&](const StepMetrics &step) { measured = step; });
    connect(&scope, &Telemetry::stepPredicted,
            [&](const StepMetrics &, const Prediction &p, const QString &) { predicted = p; });
    connect(&scope, &Telemetry::stepModelled, [&](const StepModel &m) {
        model = m;
        qInfo("%s", qPrintable(modelLine(m)));
    });
    connect(&scope, &Telemetry::relayMeasured, [&](const RelayTuning &r) { relay = r; });
    // The log goes to the scope, line by line, until the condition holds.
    const auto feedUntil = [&](const std::function<bool(const QByteArray &)> &done) {
        for (int lines = 0; lines < 1000; ++lines) {
            const QByteArray line = emulator.nextLine(kLineTimeoutMs);
            scope.feed(line);
            if (line.isEmpty() || done(line))
                return !line.isEmpty();
        }
        return false;
    };
    const auto release = [&](int slot, double value) {
        channel(window, slot).slider->setValue(int(std::lround(value * 100000)));
        pressAndRelease(channel(window, slot).slider);
        const QByteArray report
            = "param id=" + channel(window, slot).identifier->toPlainText().toLatin1();
        return feedUntil([&](const QByteArray &line) { return line.startsWith(report); });
    };
    const auto settle = [&](int lines) {
        return feedUntil([&](const QByteArray &) { return --lines == 0; });
    };
    const auto near = [](double value, double truth, double share) {
        return std::abs(value / truth - 1) <= share;
    };

    // P alone (Kp 1, the firmware's start) from rest: set-point 0 to 50.
    QVERIFY(release(4, 100)); // the integral must reach the set-point's size, for the PI later
    QVERIFY(settle(50) && release(5, 50));
    QVERIFY(feedUntil([&](const QByteArray &) { return bool(model); }));
    QVERIFY2(model->identification.refusal == Refusal::None, qPrintable(modelLine(*model)));
    QVERIFY2(near(model->identification.model.gain, 1, 0.05)
                 && near(model->identification.model.tau, 0.5, 0.05),
             qPrintable(modelLine(*model)));

    // SIMC's PI, released, then a step of 20: its rise as predicted.
    const Pid pi = model->suggestions.at(0).pid;
    QCOMPARE(model->suggestions.at(0).rule, QStringLiteral("simc-pi"));
    QVERIFY(release(1, pi.kp) && release(2, pi.ki) && settle(200));
    model.reset();
    QVERIFY(release(5, 70));
    QVERIFY(feedUntil([&](const QByteArray &) { return bool(model); }));
    QVERIFY(measured && predicted);
    qInfo("%s", qPrintable(stepLine(*measured)));
    qInfo("%s", qPrintable(predictedLine(*measured, *predicted, QStringLiteral("simc-pi"))));
    QVERIFY(near(measured->rise, predicted->figures.rise, 0.10));

    // 0.1 s of dead time: a step's model finds it.
    QVERIFY(release(6, 0.1) && settle(150));
    model.reset();
    QVERIFY(release(5, 50));
    QVERIFY(feedUntil([&](const QByteArray &) { return bool(model); }));
    QVERIFY2(model->identification.refusal == Refusal::None
                 && near(model->identification.model.theta, 0.1, 0.20),
             qPrintable(modelLine(*model)));

    // The relay of amplitude 10 (the firmware's default) around 50: a = K·d·(1 − e^(−θ/τ)),
    // Tu = 2τ·ln(2·e^(θ/τ) − 1).
    QVERIFY(release(3, 1));
    QVERIFY(feedUntil([&](const QByteArray &) { return bool(relay); }));
    qInfo("%s", qPrintable(relayLine(*relay)));
    const double ratio = std::exp(0.1 / 0.5);
    QVERIFY(near(relay->cycle.a, 10 * (1 - 1 / ratio), 0.10));
    QVERIFY(near(relay->cycle.period, 2 * 0.5 * std::log(2 * ratio - 1), 0.10));
    QVERIFY(release(3, 0));
}

QTEST_MAIN(FirmwareTest)
#include "tst_firmware.moc"
