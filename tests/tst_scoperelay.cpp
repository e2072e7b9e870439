// SPDX-License-Identifier: MIT
// pidtune-scope as a process relaying a single-UART device: the window on one side of it, the
// test playing the device on the other.
#include "app/mainwindow.h"
#include "pseudoterminal.h"
#include "testwindow.h"

#include <QtTest>
#include <QtWidgets>

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace testwindow;

namespace {

QString nextLine(QProcess &process)
{
    QDeadlineTimer deadline(10000);
    while (!process.canReadLine() && process.waitForReadyRead(int(deadline.remainingTime()))) { }
    return QString::fromLocal8Bit(process.readLine()).trimmed();
}

// Writes as pidtune would, without waiting for a line that takes nothing for 200 ms; returns
// what the line took.
qint64 writeWhileTaken(int port, const QByteArray &bytes)
{
    qint64 taken = 0;
    pollfd writable {port, POLLOUT, 0};
    while (taken < bytes.size()) {
        const ssize_t n = ::write(port, bytes.constData() + taken, size_t(bytes.size() - taken));
        if (n > 0)
            taken += n;
        else if (::poll(&writable, 1, 200) <= 0)
            break;
    }
    return taken;
}

// What the port gets until nothing more has come for 200 ms.
QByteArray readUntilQuiet(int port)
{
    QByteArray read;
    char chunk[4096];
    pollfd readable {port, POLLIN, 0};
    while (::poll(&readable, 1, 200) > 0) {
        const ssize_t n = ::read(port, chunk, sizeof chunk);
        if (n <= 0)
            break;
        read.append(chunk, int(n));
    }
    return read;
}

} // namespace

class ScopeRelayTest : public QObject
{
    Q_OBJECT

private slots:
    void relays_data();
    void relays();
    void holdsBackDropsAndCounts();
    void startsAndEnds_data();
    void startsAndEnds();
};

void ScopeRelayTest::relays_data()
{
    QTest::addColumn<bool>("unplug"); // else the scope is stopped
    QTest::newRow("device unplugged") << true;
    QTest::newRow("scope stopped") << false;
}

void ScopeRelayTest::relays()
{
    QFETCH(bool, unplug);
    PseudoTerminal device;
    if (!device.isValid())
        QSKIP(qPrintable(device.reason()));
    QProcess scope;
    scope.start(QStringLiteral(PIDTUNE_SCOPE),
                {"--relay", device.slavePath(), "--baud", "57600", "--time", "t", "--names=7=Kp"});
    const QString path = nextLine(scope).remove(QStringLiteral("pty: "));
    LineSettings settings;
    QVERIFY(device.lineSettings(&settings) && settings.outputBaud == 57600);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    openPort(window, path);

    // Every release reaches the device byte for byte, in order. While the device takes nothing
    // for a time, the releases wait, more of them than one read passes on, and then arrive
    // behind what filled its line; after that the relay goes on as before.
    const int identifiers[] = {0, 7, 44, 100, 200, 255};
    QByteArray expected;
    for (int n = 1; n <= 6; ++n)
        setUpChannel(window, n, QString::number(identifiers[n - 1]), QStringLiteral("-1.5"),
                     QStringLiteral("1.5"));
    for (const bool stopped : {true, false}) {
        if (stopped)
            expected += QByteArray(int(device.stopReading()), '\0');
        for (int round = stopped ? 8 : 1; round > 0; --round) {
            for (int n = 1; n <= 6; ++n) {
                const bool toEnd = (n + round) % 2 == 0;
                dragToEnd(channel(window, n).slider, toEnd);
                expected += frameBytes(identifiers[n - 1], toEnd ? 1.5f : -1.5f);
            }
        }
        device.resumeReading();
        QTRY_COMPARE(device.received(), expected);
    }

    // The device's telemetry is plotted and its step measured: Kp 5 on a tau of 0.5 s. Its line
    // gives the parameters the relay saw go to the device last, by identifier, Kp by name.
    const double tau = 0.5 / 6;
    for (int ms = 0; ms <= 3000; ms += 20) {
        const double y = ms < 1000 ? 0 : 50.0 * 5 / 6 * (1 - std::exp((1000 - ms) / 1000.0 / tau));
        device.send(QStringLiteral("t=%1 sp=%2 y=%3 u=0\r\n")
                        .arg(ms)
                        .arg(ms < 1000 ? 0 : 50)
                        .arg(y)
                        .toLatin1());
    }
    QTRY_COMPARE(device.pendingToSend(), qint64(0));
    const QString line = nextLine(scope);
    const QRegularExpressionMatch step
        = QRegularExpression(
              QStringLiteral("^step t=1\\.000 sp=0->50 rise=(\\S+) overshoot=0\\.0 settling=\\S+ "
                             "sse=(\\S+) band=\\S+ "
                             "params=0:1\\.5,Kp:-1\\.5,44:1\\.5,100:-1\\.5,200:1\\.5,255:-1\\.5$"))
              .match(line);
    QVERIFY2(step.hasMatch(), qPrintable(line));
    QVERIFY(std::abs(step.captured(1).toDouble() / (tau * std::log(9.0)) - 1) < 0.02);
    QVERIFY(std::abs(step.captured(2).toDouble() / (50.0 / 6) - 1) < 0.02);

    // It goes on to pidtune as well, seen here while pidtune's port is closed.
    pressOpenButton(window);
    const int reader = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    device.send("passed on\r\n");
    QByteArray passed;
    QTRY_VERIFY([&] {
        char chunk[256];
        passed.append(chunk, int(std::max<ssize_t>(0, ::read(reader, chunk, sizeof chunk))));
        return passed.contains("passed on\r\n");
    }());
    ::close(reader);
    openPort(window, path);

    // Either end going closes pidtune's line; a scope left without its device stays open.
    const pid_t scopeId = pid_t(scope.processId());
    unplug ? device.unplug() : void(::kill(scopeId, SIGTERM));
    QTRY_VERIFY(status(window).startsWith(QStringLiteral("串口已断开")));
    if (unplug)
        ::kill(scopeId, SIGTERM);
    QTRY_COMPARE(scope.state(), QProcess::NotRunning);
    QCOMPARE(scope.exitStatus(), QProcess::NormalExit);
    QCOMPARE(scope.exitCode(), 0);
}

// pidtune's side of the relay as a program reading and writing its port directly; the scope's
// standard output a FIFO whose reader goes away after the first line, as `| head -1`.
void ScopeRelayTest::holdsBackDropsAndCounts()
{
    PseudoTerminal device;
    if (!device.isValid())
        QSKIP(qPrintable(device.reason()));
    QTemporaryDir folder;
    const QByteArray fifo = QFile::encodeName(folder.filePath(QStringLiteral("out")));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    const int head = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QProcess scope;
    scope.setStandardOutputFile(QFile::decodeName(fifo));
    scope.start(QStringLiteral(PIDTUNE_SCOPE),
                {"-platform", "offscreen", "--relay", device.slavePath(), "--time", "t"});
    QByteArray first, error;
    QTRY_VERIFY((first += readUntilQuiet(head)).endsWith('\n'));
    ::close(head);
    const auto said = [&](const QByteArray &text) {
        return (error += scope.readAllStandardError()).contains(text);
    };
    const QByteArray path = first.trimmed().mid(5);
    int pidtune = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);

    // While the device takes nothing, the relay takes pidtune's bytes only as far as it can hold
    // them, not megabytes. pidtune flushes its port and closes it: none of them reaches the
    // device afterwards, only what pidtune writes when it comes back. Frames of identifier 80
    // ('P'), which were not sent after all, are taken off the chart.
    device.stopReading();
    QVERIFY(writeWhileTaken(pidtune, frameBytes(80, 1).repeated((1 << 22) / 9)) < (1 << 20));
    ::tcflush(pidtune, TCIOFLUSH);
    ::close(pidtune);
    QTRY_VERIFY(said("bytes it had written, which the device had not taken yet, were dropped"));
    QVERIFY2(QRegularExpression(QStringLiteral("dropped \\([1-9][0-9]* parameter frames"))
                 .match(QString::fromLocal8Bit(error))
                 .hasMatch(),
             error.constData());
    pidtune = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QCOMPARE(writeWhileTaken(pidtune, "back"), qint64(4));
    device.resumeReading();
    QTRY_VERIFY(device.received().contains("back"));
    QVERIFY2(!device.received().contains('P'), "bytes written before the flush reached the device");

    // pidtune reads nothing while the device sends more than the relay holds for it: what it
    // then reads is whole lines, and the lines dropped are counted.
    QByteArray sent;
    for (int line = 0; line < 6000; ++line)
        sent += QByteArray::number(line).rightJustified(40, '-') + '\n';
    device.send(sent);
    QTRY_COMPARE(device.pendingToSend(), qint64(0));
    QByteArray passed = readUntilQuiet(pidtune);
    device.send("end\n"); // the first line after pidtune has read all there was
    passed += readUntilQuiet(pidtune);
    QVERIFY(passed.endsWith("\nend\n") && passed.size() - 4 < sent.size());
    const QByteArrayList lines = passed.split('\n');
    for (const QByteArray &line : lines.mid(0, lines.size() - 2))
        QVERIFY2(line.size() == 40 && sent.contains(line + '\n'), line.constData());
    QTRY_VERIFY(said(QByteArray::number(sent.size() - passed.size() + 4)
                     + " bytes the device sent were dropped, whole lines"));

    // The step cut by the scope's end makes a line nobody reads: said, and the status is 1.
    device.send("t=0 sp=0 y=0\nt=10 sp=1 y=0\n");
    QTRY_COMPARE(device.pendingToSend(), qint64(0));
    ::kill(pid_t(scope.processId()), SIGTERM);
    QVERIFY(scope.waitForFinished(10000));
    QVERIFY2(said("cannot write to standard output"), error.constData());
    QCOMPARE(qMakePair(scope.exitStatus(), scope.exitCode()), qMakePair(QProcess::NormalExit, 1));
    ::close(pidtune);
}

void ScopeRelayTest::startsAndEnds_data()
{
    QTest::addColumn<QString>("shell"); // "$0" is the scope
    QTest::addColumn<bool>("stop"); // with SIGTERM once /proc shows it in main(), holding signals
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error"); // a regular expression for all of standard error
    QTest::newRow("standard input closed")
        << "exec \"$0\" -platform offscreen --exit-at-end - <&-" << false << 1
        << "pidtune-scope: cannot open -: standard input is closed\n";
    QTest::newRow("no display")
        << "unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM; exec \"$0\" /dev/pidtune-none" << false
        << 1 << "(.|\n)*pidtune-scope: cannot start the window: (.|\n)*";
    // A stop signal before the scope handles them waits for that, and ends it as later would.
    QTest::newRow("stopped while it starts")
        << "exec \"$0\" -platform offscreen - </dev/null" << true << 0 << "(.|\n)*";
}

void ScopeRelayTest::startsAndEnds()
{
    QFETCH(QString, shell);
    QFETCH(bool, stop);
    QFETCH(int, status);
    QFETCH(QString, error);
    QProcess scope;
    scope.start(QStringLiteral("/bin/sh"), {"-c", shell, QStringLiteral(PIDTUNE_SCOPE)});
    QVERIFY(scope.waitForStarted());
    QFile process(QStringLiteral("/proc/%1/status").arg(scope.processId()));
    if (stop && !process.exists())
        QSKIP("no /proc to see the scope start by");
    const auto holding = [&] {
        const QByteArray text = process.open(QIODevice::ReadOnly) ? process.readAll() : "";
        process.close();
        const qsizetype at = text.indexOf("SigBlk:");
        return at >= 0
            && (text.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
    };
    QDeadlineTimer deadline(10000);
    bool held = false;
    while (stop && !(held = holding()) && !deadline.hasExpired()
           && scope.state() == QProcess::Running) { }
    if (stop) {
        QVERIFY2(held, "the scope did not hold the stop signals while it started");
        ::kill(pid_t(scope.processId()), SIGTERM);
    }
    QVERIFY(scope.waitForFinished(10000));
    const QString said = QString::fromLocal8Bit(scope.readAllStandardError());
    QCOMPARE(scope.exitStatus(), QProcess::NormalExit);
    QVERIFY2(scope.exitCode() == status, qPrintable(said));
    QVERIFY2(QRegularExpression(QStringLiteral("\\A(?:%1)\\z").arg(error)).match(said).hasMatch(),
             qPrintable(said));
}

QTEST_MAIN(ScopeRelayTest)
#include "tst_scoperelay.moc"
