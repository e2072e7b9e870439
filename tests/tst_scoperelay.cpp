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
#include <unistd.h>

using namespace testwindow;

namespace {

QString nextLine(QProcess &process)
{
    QDeadlineTimer deadline(10000);
    while (!process.canReadLine() && process.waitForReadyRead(int(deadline.remainingTime()))) { }
    return QString::fromLocal8Bit(process.readLine()).trimmed();
}

} // namespace

class ScopeRelayTest : public QObject
{
    Q_OBJECT

private slots:
    void relays_data();
    void relays();
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
                {"--relay", device.slavePath(), "--baud", "57600", "--time", "t"});
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

    // The device's telemetry is plotted and its step measured: Kp 5 on a tau of 0.5 s.
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
              QStringLiteral(
                  "^step t=1\\.000 sp=0->50 rise=(\\S+) overshoot=0\\.0 settling=\\S+ sse=(\\S+) band=\\S+$"))
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

QTEST_MAIN(ScopeRelayTest)
#include "tst_scoperelay.moc"
