// SPDX-License-Identifier: MIT
// The example firmware on emulated boards, at the other end of the window's serial port: what
// the firmware reports on its log for each slider release, byte for byte.
#include "app/mainwindow.h"
#include "emulator.h"
#include "testwindow.h"

#include <QtTest>
#include <QtWidgets>

#include <cerrno>
#include <cstring>

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

QString toolMissing(const QString &what)
{
    // CI installs every tool: there a missing one is a failure, not a skip.
    return (qEnvironmentVariableIsSet("PIDTUNE_REQUIRE_FIRMWARE_TOOLS") ? QStringLiteral("FAIL: ")
                                                                        : QString())
        + what;
}

Board board(const QString &name)
{
    Board b;
    if (name == QLatin1String("mps2-an385")) {
        b.program = QStandardPaths::findExecutable(QStringLiteral("qemu-system-arm"));
        b.arguments
            = QStringList {QStringLiteral("-machine"),    name,
                           QStringLiteral("-nodefaults"), QStringLiteral("-nic"),
                           QStringLiteral("none"),        QStringLiteral("-display"),
                           QStringLiteral("none"),        QStringLiteral("-monitor"),
                           QStringLiteral("none"),        QStringLiteral("-serial"),
                           QStringLiteral("pty"), // UART0
                           QStringLiteral("-serial"),     QStringLiteral("stdio"), // UART1: log
                           QStringLiteral("-kernel"),     QStringLiteral(PIDTUNE_FIRMWARE_MPS2)};
        if (!*PIDTUNE_FIRMWARE_MPS2)
            b.missing = QStringLiteral("arm-none-eabi-gcc was not found when this build was "
                                       "configured: apt-get install gcc-arm-none-eabi "
                                       "libnewlib-arm-none-eabi, then build again");
        else if (b.program.isEmpty())
            b.missing = QStringLiteral("qemu-system-arm is not installed: apt-get install "
                                       "qemu-system-arm");
        b.ready = "ready board=mps2-an385 int=32 slots=16\r\n";
    } else {
        b.program = QStringLiteral(PIDTUNE_SIMAVR_PTY);
        b.arguments = QStringList {QStringLiteral(PIDTUNE_FIRMWARE_AVR)};
        if (!*PIDTUNE_FIRMWARE_AVR)
            b.missing = QStringLiteral("avr-gcc was not found when this build was configured: "
                                       "apt-get install gcc-avr avr-libc, then build again");
        else if (b.program.isEmpty())
            b.missing = QStringLiteral("libsimavr was not found when this build was configured: "
                                       "apt-get install libsimavr-dev, then build again");
        b.ready = "ready board=atmega328p int=16 slots=16\r\n";
    }
    if (!b.missing.isEmpty())
        b.missing = toolMissing(b.missing);
    return b;
}

void addBoards()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("mps2-an385") << QStringLiteral("mps2-an385");
    QTest::newRow("atmega328p") << QStringLiteral("atmega328p");
}

// The same serial line, opened by the test before the window opens it, to put noise on it.
struct Line
{
    explicit Line(const QString &path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY))
    { }
    ~Line()
    {
        if (fd >= 0)
            ::close(fd);
    }
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
    void framesPerSecond_data() { addBoards(); }
    void framesPerSecond();
};

#define START_BOARD(emulator, window)                                                              \
    QFETCH(QString, name);                                                                         \
    const Board b = board(name);                                                                   \
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
    START_BOARD(emulator, window);
    const Line line(emulator.ptyPath());
    QVERIFY2(line.fd >= 0, strerror(errno));
    openPort(window, emulator.ptyPath());
    QCOMPARE(buttonCaption(window), QStringLiteral("关闭串口"));

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
        {4, "5", "-21474.8", "100", ToMin, nullptr,
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
        // Cut after 6 bytes, the value becomes 00 05 FA 06: tiny, in range and taken. Only a
        // checksum could tell.
        {2, nullptr, nullptr, nullptr, Press, "05 FA 06 07 04 00",
         "param id=7 value=0 bits=06fa0500 skipped=9"},
        {2, nullptr, nullptr, nullptr, Press, nullptr,
         "param id=255 value=12.3457 bits=414587fd skipped=15"},
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

    // Meanwhile the loop has run on the board's timer, its set-point still at 0.
    QVERIFY(!emulator.loopLines.isEmpty());
    for (const Emulator::LoopLine &loop : std::as_const(emulator.loopLines))
        QVERIFY2(QRegularExpression(
                     QStringLiteral("^(state )?t=[1-9]\\d* sp=0 y=0 u=0( overruns=0)?\r\n$"))
                     .match(QString::fromLatin1(loop.text))
                     .hasMatch(),
                 loop.text.constData());
}

void FirmwareTest::framesPerSecond()
{
    START_BOARD(emulator, window);
    setUpChannel(window, 1, QStringLiteral("200"), QStringLiteral("0"), QStringLiteral("20000"));
    openPort(window, emulator.ptyPath());

    const auto release = [&](int value) {
        channel(window, 1).slider->setValue(value * 100000);
        pressAndRelease(channel(window, 1).slider);
    };
    const auto report = [](int value) {
        const float v = float(value);
        quint32 bits;
        std::memcpy(&bits, &v, sizeof bits);
        return QByteArray("param id=200 value=") + QByteArray::number(value)
            + " bits=" + QByteArray::number(bits, 16).rightJustified(8, '0') + " skipped=0\r\n";
    };
    release(1);
    QCOMPARE(emulator.nextReport(kLineTimeoutMs), report(1));

    // Every frame arrives and none is damaged, however fast they come. No more than 200 frames
    // (1,800 bytes) wait at a time: the kernel's buffer for the terminal holds a few kilobytes,
    // and beyond it the window keeps only the newest frame of each identifier.
    constexpr int kFrames = 2000;
    constexpr int kInFlight = 200;
    QElapsedTimer clock;
    clock.start();
    for (int sent = 1, received = 1; received < kFrames;) {
        if (sent < kFrames && sent - received < kInFlight) {
            release(++sent);
            QVERIFY2(status(window).startsWith(QStringLiteral("已发送")),
                     qPrintable(status(window)));
        } else {
            QCOMPARE(emulator.nextReport(kLineTimeoutMs), report(++received));
        }
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    qInfo("%s: %d frames in %.3f s: %.0f frames/s", qPrintable(name), kFrames - 1, seconds,
          (kFrames - 1) / seconds);
}

QTEST_MAIN(FirmwareTest)
#include "tst_firmware.moc"
