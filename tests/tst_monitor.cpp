// SPDX-License-Identifier: MIT
// pidtune-monitor as a process: on its own pseudo-terminal with the window sending, on a named
// port with the test playing the device; and its value formatting.
#include "app/mainwindow.h"
#include "frameformat.h"
#include "pseudoterminal.h"
#include "serial/parameterframe.h"
#include "testwindow.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <fcntl.h>
#include <limits>
#include <termios.h>
#include <unistd.h>

using namespace testwindow;

namespace {

// The next line the monitor prints on the channel, without its line break and, for a frame
// line, without the time stamp that must lead it; a null string if none comes in time.
QString nextLine(QProcess &monitor, QProcess::ProcessChannel channel = QProcess::StandardOutput)
{
    monitor.setReadChannel(channel);
    QDeadlineTimer deadline(10000);
    while (!monitor.canReadLine() && monitor.waitForReadyRead(int(deadline.remainingTime()))) { }
    QString line = QString::fromLocal8Bit(monitor.readLine()).chopped(1);
    static const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  "));
    return line.remove(time);
}

QString frameLine(int identifier, float value, const char *text, int skipped)
{
    return QStringLiteral("id=%1  value=%2  %3  skipped=%4")
        .arg(identifier)
        .arg(QLatin1String(text),
             pidtune::frameToHex(pidtune::encodeParameterFrame(identifier, value)))
        .arg(skipped);
}

bool isRaw115200(const QString &path)
{
    const int descriptor = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    termios settings {};
    const bool read = descriptor >= 0 && ::tcgetattr(descriptor, &settings) == 0;
    ::close(descriptor);
    return read && cfgetispeed(&settings) == B115200 && (settings.c_cflag & CSIZE) == CS8
        && !(settings.c_oflag & OPOST) && !(settings.c_lflag & (ICANON | ECHO));
}

} // namespace

class MonitorTest : public QObject
{
    Q_OBJECT

private slots:
    void printsWhatTheWindowSends();
    void watchesANamedPort_data();
    void watchesANamedPort();
    void shortestText_data();
    void shortestText();
};

void MonitorTest::printsWhatTheWindowSends()
{
    QProcess monitor;
    monitor.start(QStringLiteral(PIDTUNE_MONITOR), {QStringLiteral("--pty")});
    const QString path = nextLine(monitor).remove(QStringLiteral("pty: "));
    QVERIFY2(isRaw115200(path), qPrintable(path)); // for tools that open it as they find it

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    setUpChannel(window, 1, QStringLiteral("3"), QStringLiteral("0"), QStringLiteral("1.5"));
    setUpChannel(window, 2, QStringLiteral("255"), QStringLiteral("-1.5"), QStringLiteral("0"));
    for (int round = 0; round < 2; ++round) { // pidtune closing its port leaves the monitor be
        openPort(window, path);
        dragToEnd(channel(window, 1).slider, true);
        QCOMPARE(nextLine(monitor), frameLine(3, 1.5f, "1.5", 0));
        dragToEnd(channel(window, 2).slider, false);
        QCOMPARE(nextLine(monitor), frameLine(255, -1.5f, "-1.5", 0));
        pressOpenButton(window);
    }
    ::kill(pid_t(monitor.processId()), SIGINT);
    QCOMPARE(nextLine(monitor), QStringLiteral("summary: frames=4 skipped=0 unfinished=0"));
    QVERIFY(monitor.waitForFinished(10000));
    QCOMPARE(monitor.exitCode(), 0);
}

void MonitorTest::watchesANamedPort_data()
{
    QTest::addColumn<bool>("unplug"); // else stopped by SIGTERM
    QTest::addColumn<int>("exitCode");
    QTest::newRow("stopped") << false << 0;
    QTest::newRow("device unplugged") << true << 1;
}

void MonitorTest::watchesANamedPort()
{
    QFETCH(bool, unplug);
    QFETCH(int, exitCode);
    PseudoTerminal device;
    if (!device.isValid())
        QSKIP(qPrintable(device.reason()));
    QProcess monitor;
    monitor.start(QStringLiteral(PIDTUNE_MONITOR), {device.slavePath()});
    QVERIFY(nextLine(monitor, QProcess::StandardError).contains(QStringLiteral("115200 8N1")));
    LineSettings settings;
    QVERIFY(device.lineSettings(&settings) && settings.isRaw8N1(115200));

    // Noise as a bench would produce it: 0D 0A must arrive untranslated; the last frame's 05 sits
    // where the noise 05 FA 06 05 has its size; the stream ends in noise and half a header.
    device.send(QByteArray::fromHex("00 FF") + frameBytes(3, 1.5f) + QByteArray::fromHex("0D 0A 05")
                + frameBytes(44, 0.69999f) + QByteArray::fromHex("05 FA 06 05")
                + frameBytes(10, -0.0f) + QByteArray::fromHex("00 05 FA"));
    QCOMPARE(nextLine(monitor), frameLine(3, 1.5f, "1.5", 2));
    QCOMPARE(nextLine(monitor), frameLine(44, 0.69999f, "0.69999", 3));
    QCOMPARE(nextLine(monitor), frameLine(10, -0.0f, "-0", 4));
    QTRY_COMPARE(device.pendingToSend(), qint64(0));
    if (unplug)
        device.unplug();
    else
        ::kill(pid_t(monitor.processId()), SIGTERM);
    QCOMPARE(nextLine(monitor), QStringLiteral("summary: frames=3 skipped=10 unfinished=2"));
    QVERIFY(monitor.waitForFinished(10000));
    QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(monitor.exitCode(), exitCode);
}

void MonitorTest::shortestText_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("text");
    const float inf = std::numeric_limits<float>::infinity();
    // clang-format off
    const std::pair<float, const char *> rows[] = {
        {1.5f, "1.5"}, {0.69999f, "0.69999"}, {1e-05f, "1e-05"}, {1e6f, "1e+06"}, {1234567.0f, "1234567"},
        {1.0f / 3.0f, "0.33333334"}, {10490.4375f, "10490.4375"}, {-0.0f, "-0"}, {inf, "inf"},
        {std::numeric_limits<float>::quiet_NaN(), "nan"}};
    // clang-format on
    for (const auto &[value, text] : rows)
        QTest::newRow(text) << value << QString::fromLatin1(text);
}

void MonitorTest::shortestText()
{
    QFETCH(float, value);
    QFETCH(QString, text);
    QCOMPARE(pidtune::monitor::shortestText(value), text);
}

QTEST_MAIN(MonitorTest)
#include "tst_monitor.moc"
