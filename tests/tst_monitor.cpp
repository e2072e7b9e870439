// SPDX-License-Identifier: MIT
// pidtune-monitor as a process: the window and the monitor on the two ends of a pseudo-terminal,
// plus the monitor's command line and its value formatting.
#include "app/mainwindow.h"
#include "frameformat.h"
#include "serial/parameterframe.h"
#include "testwindow.h"
#include "ui/channelvalues.h"

#include <QtTest>
#include <QtWidgets>

#include <QSerialPort>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#if defined(Q_OS_UNIX)
#include <csignal>
#include <sys/types.h>
#endif

using namespace testwindow;

namespace {

constexpr int kTimeoutMs = 10000;

// The next line the monitor prints, without its line break; a null string if none comes.
QString nextLine(QProcess &process)
{
    QDeadlineTimer deadline(kTimeoutMs);
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(int(deadline.remainingTime())))
            break;
    }
    if (!process.canReadLine())
        return QString();
    QString line = QString::fromLocal8Bit(process.readLine());
    line.chop(1);
    return line;
}

// Starts "pidtune-monitor --pty" and returns the path of the terminal it made.
QString startOnPseudoTerminal(QProcess &monitor)
{
    monitor.start(QStringLiteral(PIDTUNE_MONITOR), {QStringLiteral("--pty")});
    const QString first = nextLine(monitor);
    const QString prefix = QStringLiteral("pty: ");
    return first.startsWith(prefix) ? first.mid(prefix.size()) : QString();
}

// A frame line, without its time stamp ("12:01:02.345"), which must come first.
QString untimed(const QString &line)
{
    static const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d(?=  )"));
    const QRegularExpressionMatch match = time.match(line);
    return match.hasMatch() ? line.mid(match.capturedLength()) : QStringLiteral("no time: ") + line;
}

QString expectedLine(int identifier, float value, const QString &valueText, int skipped)
{
    return QStringLiteral("  id=%1  value=%2  %3  skipped=%4")
        .arg(identifier)
        .arg(valueText, pidtune::frameToHex(pidtune::encodeParameterFrame(identifier, value)))
        .arg(skipped);
}

QByteArray frame(int identifier, float value)
{
    const pidtune::ParameterFrame bytes = pidtune::encodeParameterFrame(identifier, value);
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
}

} // namespace

class MonitorTest : public QObject
{
    Q_OBJECT

private slots:
    void printsEachReleaseOfTheWindow();
    void countsNoiseAndStopsOnSignal_data();
    void countsNoiseAndStopsOnSignal();
    void commandLine_data();
    void commandLine();
    void valueText_data();
    void valueText();
};

void MonitorTest::printsEachReleaseOfTheWindow()
{
#if !defined(Q_OS_UNIX)
    QSKIP("the monitor's --pty needs POSIX pseudo-terminals");
#endif
    QProcess monitor;
    const QString path = startOnPseudoTerminal(monitor);
    QVERIFY2(!path.isEmpty(), monitor.readAllStandardError().constData());

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    openPort(window, path);
    QVERIFY(window.connection());

    enum How { Press, ToMin, ToMax };
    struct Release
    {
        int channel;
        const char *identifier, *min, *max;
        How how;
        const char *shown; // the value label's text, trimmed
        bool setUp = true; // false: as the channel was left, to press its handle again
    };
    const Release releases[] = {
        {1, "3", "0", "1.5", ToMax, "1.5"},
        {2, "255", "-21474.8", "21474.8", ToMin, "-21474.8"},
        {3, "44", "0", "0.7", ToMax, "0.69999"},
        {4, "0", "-1.5", "2", ToMin, "-1.5"},
        {5, "7", "0", "10", Press, "0"},
        {6, "128", "0", "0.0001", ToMax, "9e-05"},
        {1, "3", "0", "1.5", Press, "1.5", false}, // the same frame again
    };
    int reopenAfter = 3;
    for (const Release &release : releases) {
        if (--reopenAfter == 0) {
            // pidtune closing and reopening its port must not end the monitor's terminal.
            pressOpenButton(window);
            QVERIFY(!window.connection());
            openPort(window, path);
            QVERIFY(window.connection());
        }
        if (release.setUp)
            setUpChannel(window, release.channel, QString::fromLatin1(release.identifier),
                         QString::fromLatin1(release.min), QString::fromLatin1(release.max));
        const pidtune::ChannelWidgets row = channel(window, release.channel);
        if (release.how == Press)
            pressAndRelease(row.slider);
        else
            dragToEnd(row.slider, release.how == ToMax);
        QCOMPARE(row.value->text().trimmed(), QString::fromLatin1(release.shown));

        const int identifier = QString::fromLatin1(release.identifier).toInt();
        const float value = pidtune::valueFromText(row.value->text());
        const QString line = nextLine(monitor);
        QCOMPARE(untimed(line),
                 expectedLine(identifier, value, QString::fromLatin1(release.shown), 0));
        QVERIFY2(line.contains(status(window).section(QStringLiteral("："), 1)),
                 qPrintable(status(window)));
    }

#if defined(Q_OS_UNIX)
    ::kill(pid_t(monitor.processId()), SIGINT);
#endif
    QCOMPARE(nextLine(monitor), QStringLiteral("summary: frames=7 skipped=0 unfinished=0"));
    QVERIFY(monitor.waitForFinished(kTimeoutMs));
    QCOMPARE(monitor.exitCode(), 0);
}

void MonitorTest::countsNoiseAndStopsOnSignal_data()
{
    QTest::addColumn<int>("signal");
#if defined(Q_OS_UNIX)
    QTest::newRow("Ctrl-C") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
#endif
}

void MonitorTest::countsNoiseAndStopsOnSignal()
{
#if !defined(Q_OS_UNIX)
    QSKIP("needs POSIX pseudo-terminals and signals");
#else
    QFETCH(int, signal);
    QProcess monitor;
    const QString path = startOnPseudoTerminal(monitor);
    QVERIFY2(!path.isEmpty(), monitor.readAllStandardError().constData());

    // A device-side writer with its own frames and noise, as a firmware engineer's bench
    // script would send them. The 0D 0A noise also shows that nothing on the way translates.
    QSerialPort writer(path);
    QVERIFY2(writer.open(QIODevice::ReadWrite), qPrintable(writer.errorString()));
    const QByteArray bytes = QByteArray::fromHex("00 FF") + frame(3, 1.5f)
        + QByteArray::fromHex("0D 0A 05") + frame(44, 0.69999f) + QByteArray::fromHex("05 FA 06 05")
        + frame(255, -0.0f);
    QCOMPARE(writer.write(bytes), qint64(bytes.size()));
    QVERIFY(writer.waitForBytesWritten(kTimeoutMs));

    QCOMPARE(untimed(nextLine(monitor)), expectedLine(3, 1.5f, QStringLiteral("1.5"), 2));
    QCOMPARE(untimed(nextLine(monitor)), expectedLine(44, 0.69999f, QStringLiteral("0.69999"), 3));
    // The last noise ends in 05 FA 06, then the frame's own 05 sits where the size belongs.
    QCOMPARE(untimed(nextLine(monitor)), expectedLine(255, -0.0f, QStringLiteral("-0"), 4));

    ::kill(pid_t(monitor.processId()), signal);
    QCOMPARE(nextLine(monitor), QStringLiteral("summary: frames=3 skipped=9 unfinished=0"));
    QVERIFY(monitor.waitForFinished(kTimeoutMs));
    QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(monitor.exitCode(), 0);
    QVERIFY(monitor.readAllStandardOutput().isEmpty());
#endif
}

void MonitorTest::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // expected in standard output
    QTest::addColumn<QString>("error"); // a regular expression for standard error

    const QString usage
        = QStringLiteral(".*\nTry 'pidtune-monitor --help' for more information\\.\n$");
    QTest::newRow("--help") << QStringList {QStringLiteral("--help")} << 0
                            << QStringLiteral("--pty") << QStringLiteral("^$");
    QTest::newRow("no port") << QStringList() << 2 << QString()
                             << QStringLiteral("^pidtune-monitor: no port given") + usage;
    QTest::newRow("port and --pty")
        << QStringList {QStringLiteral("--pty"), QStringLiteral("/dev/ttyUSB0")} << 2 << QString()
        << QStringLiteral("^pidtune-monitor: give either a port or --pty, not both") + usage;
    QTest::newRow("two ports") << QStringList {QStringLiteral("/dev/ttyUSB0"),
                                               QStringLiteral("/dev/ttyUSB1")}
                               << 2 << QString()
                               << QStringLiteral("^pidtune-monitor: one port at a time") + usage;
    QTest::newRow("unknown option")
        << QStringList {QStringLiteral("--baud"), QStringLiteral("9600")} << 2 << QString()
        << QStringLiteral("^pidtune-monitor: .*'baud'") + usage;
    // The port's own reason follows the colon.
    QTest::newRow("no such port") << QStringList {QStringLiteral("/dev/pidtune-no-such-port")} << 1
                                  << QString()
                                  << QStringLiteral(
                                         "^pidtune-monitor: cannot open /dev/pidtune-no-such-port: "
                                         "\\S.*\\n$");
    const QString notATerminal = QCoreApplication::applicationFilePath();
    QTest::newRow("not a serial device")
        << QStringList {notATerminal} << 1 << QString()
        << QStringLiteral("^pidtune-monitor: cannot open %1: \\S.*\\n$")
               .arg(QRegularExpression::escape(notATerminal));
}

void MonitorTest::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, error);

    QProcess monitor;
    monitor.start(QStringLiteral(PIDTUNE_MONITOR), arguments);
    QVERIFY(monitor.waitForFinished(kTimeoutMs));
    QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(monitor.exitCode(), exitCode);
    const QString out = QString::fromLocal8Bit(monitor.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(monitor.readAllStandardError());
    if (output.isEmpty())
        QVERIFY2(out.isEmpty(), qPrintable(out));
    else
        QVERIFY2(out.contains(output), qPrintable(out));
    QVERIFY2(QRegularExpression(error).match(err).hasMatch(), qPrintable(err));
}

void MonitorTest::valueText_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("1.5") << 1.5f << "1.5";
    QTest::newRow("0.69999") << 0.69999f << "0.69999";
    QTest::newRow("1e-05") << 1e-05f << "1e-05";
    QTest::newRow("-21474.8") << -21474.8f << "-21474.8";
    QTest::newRow("0.1") << 0.1f << "0.1";
    // Six digits would name a neighbouring float: more are needed.
    QTest::newRow("1/3") << 1.0f / 3.0f << "0.33333334";
    QTest::newRow("2^24") << 16777216.0f << "16777216";
    QTest::newRow("largest float") << std::numeric_limits<float>::max() << "3.4028235e+38";
    QTest::newRow("negative zero") << -0.0f << "-0";
    QTest::newRow("smallest subnormal") << std::numeric_limits<float>::denorm_min() << "1.4013e-45";
    QTest::newRow("infinity") << std::numeric_limits<float>::infinity() << "inf";
    QTest::newRow("NaN") << std::numeric_limits<float>::quiet_NaN() << "nan";
}

void MonitorTest::valueText()
{
    QFETCH(float, value);
    QFETCH(QString, text);
    QCOMPARE(pidtune::monitor::shortestText(value), text);
    // C's own reading of the text gives back the same bits.
    if (std::isfinite(value)) {
        std::setlocale(LC_NUMERIC, "C"); // QApplication took the environment's
        const float back = std::strtof(text.toLatin1().constData(), nullptr);
        QCOMPARE(std::memcmp(&back, &value, sizeof value), 0);
    }
}

QTEST_MAIN(MonitorTest)
#include "tst_monitor.moc"
