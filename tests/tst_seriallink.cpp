// SPDX-License-Identifier: MIT
// The serial line without a window, over a pseudo-terminal in which the test plays the device:
// the link, the frames waiting for a device, and the connection with what it tells the operator.
#include "pidtune_config.h"
#include "pseudoterminal.h"
#include "serial/frameoutbox.h"
#include "serial/portconnection.h"
#include "serial/seriallink.h"
#include "serial/stopsignals.h"
#include "testsystem.h"

#include <QtTest>

#include <optional>

using pidtune::OpenFailure;

namespace {

// A lock file in the convention of the serial terminals: the holder's PID in ten characters.
struct UucpLock
{
    UucpLock(const QString &device, qint64 holder)
        : file((QFileInfo(QStringLiteral("/var/lock")).isWritable() ? QStringLiteral("/var/lock")
                                                                    : QStringLiteral("/tmp"))
               + QStringLiteral("/LCK..")
               + device.mid(5).replace(QLatin1Char('/'), QLatin1Char('_'))),
          text(QByteArray::number(holder).rightJustified(10, ' ') + '\n')
    {
        QFile lock(file);
        written = lock.open(QIODevice::WriteOnly) && lock.write(text) == text.size();
    }
    ~UucpLock() { QFile::remove(file); }
    bool untouched() const
    {
        QFile lock(file);
        return lock.open(QIODevice::ReadOnly) && lock.readAll() == text;
    }
    QString file;
    QByteArray text;
    bool written = false;
};

} // namespace

class SerialLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        device = std::make_unique<PseudoTerminal>();
        if (!device->isValid())
            QSKIP(qPrintable(device->reason()));
        port = std::make_unique<QSerialPort>(device->slavePath());
        open = nullptr;
        connection = std::make_unique<pidtune::PortConnection>(open);
        statuses.clear();
        connect(connection.get(), &pidtune::PortConnection::dataArrived, connection.get(),
                &pidtune::PortConnection::drain);
        connect(connection.get(), &pidtune::PortConnection::status, this,
                [this](const QString &text, int timeout) {
                    statuses << text + (timeout ? QStringLiteral(" (timed)") : QString());
                });
    }
    void cleanup() { connection.reset(); }
    void openAppliesTheLineSettings();
    void openFailures_data();
    void openFailures();
    void aFullLineIsNotALostLine();
    void deviceNotReading();
    void lostLine_data();
    void lostLine();
    void releaseLetsGoOfEverything();
    void stopSignalsArriveThroughTheEventLoop();

private:
    std::unique_ptr<PseudoTerminal> device;
    std::unique_ptr<QSerialPort> port;
    QSerialPort *open = nullptr; // the connection's port, as a window holds it
    std::unique_ptr<pidtune::PortConnection> connection;
    QStringList statuses;
};

void SerialLinkTest::openAppliesTheLineSettings()
{
    QVERIFY(pidtune::openLine(*port, QIODevice::ReadWrite).ok());
    LineSettings settings;
    QVERIFY(device->lineSettings(&settings));
    // Raw as well: a frame byte of 0x0A must not become 0D 0A, nor anything be echoed back.
    QVERIFY(settings.isRaw8N1(115200));
}

void SerialLinkTest::openFailures_data()
{
    QTest::addColumn<QString>("name"); // "pty": the test's device
    QTest::addColumn<int>("holder"); // 0: none, 1: another port object, else a lock naming it
    QTest::addColumn<int>("failure");
    QTest::addColumn<QString>("status");
    const QString busy = QStringLiteral("：串口正被其他程序占用（");
    const int inUse = int(OpenFailure::InUse), dead = 99999999;
    QTest::newRow("none listed") << "" << 0 << -1 << "没有可用的串口";
    QTest::newRow("no such port") << noSuchPort() << 0 << int(OpenFailure::NotFound)
                                  << QStringLiteral("无法打开串口 %1：").arg(noSuchPort());
    QTest::newRow("not a terminal") << notASerialPort() << 0 << int(OpenFailure::Other)
                                    << QStringLiteral("无法打开串口 %1：").arg(notASerialPort());
    QTest::newRow("held") << "pty" << 1 << inUse << busy;
    // Only where serial terminals mark the ports they hold with lock files.
    if (pidtune::kHaveUucpLocks) {
        QTest::newRow("locked by a live terminal")
            << "pty" << int(otherLiveProcess()) << inUse << busy;
        QTest::newRow("stale lock") << "pty" << dead << int(OpenFailure::None) << "";
    }
}

void SerialLinkTest::openFailures()
{
    QFETCH(QString, name);
    QFETCH(int, holder);
    QFETCH(int, failure);
    QFETCH(QString, status);
    if (name == QLatin1String("pty"))
        name = device->slavePath();
    QSerialPort other(device->slavePath());
    QVERIFY(holder != 1 || holdElsewhere(other, *device));
    std::optional<UucpLock> lock;
    if (holder > 1)
        QVERIFY(lock.emplace(device->slavePath(), holder).written);

    port->setPortName(name);
    if (failure >= 0) {
        const pidtune::OpenResult result = pidtune::openLine(*port, QIODevice::ReadWrite);
        QCOMPARE(int(result.failure), failure);
        QCOMPARE(port->isOpen(), result.ok());
        QVERIFY(result.ok() || !result.reason.isEmpty());
        port->close();
    }
    // The window's connection says so, and stays closed.
    connection->open(name);
    QVERIFY2(statuses.last().contains(status), qPrintable(statuses.last()));
    QCOMPARE(open != nullptr, status.isEmpty());
    if (lock && open)
        QVERIFY(!lock->untouched()); // a stale lock is taken over
    else if (lock)
        QVERIFY(lock->untouched()); // someone else's lock is never replaced or deleted
    connection->close();
}

void SerialLinkTest::aFullLineIsNotALostLine()
{
    if (const QString why = unseenHere(Unseen::TryAgainOnAFullLine); !why.isEmpty())
        QSKIP(qPrintable(why));
    QVERIFY(pidtune::openLine(*port, QIODevice::ReadWrite).ok());
    device->stopReading();
    const pidtune::ParameterFrame frame = pidtune::encodeParameterFrame(1, 1.0f);
    QCOMPARE(pidtune::frameOutbox(*port).send(frame), pidtune::FrameOutbox::Outcome::Waiting);
    // The driver's "try again" comes from a writing port as a ResourceError.
    qRegisterMetaType<QSerialPort::SerialPortError>(); // for the spy, on Qt 5
    QSignalSpy errors(port.get(), &QSerialPort::errorOccurred);
    port->write("x", 1);
    port->flush();
    QVERIFY(!errors.isEmpty());
    for (const QList<QVariant> &error : errors)
        QVERIFY(!pidtune::isLineLost(*port, error[0].value<QSerialPort::SerialPortError>()));
    QVERIFY(!pidtune::isLineLost(*port, QSerialPort::PermissionError)); // a line that still works

    device->unplug();
    QVERIFY(pidtune::isLineLost(*port, QSerialPort::ResourceError));
    QVERIFY(pidtune::isLineLost(*port, QSerialPort::ReadError));
    QVERIFY(!pidtune::isLineLost(*port, QSerialPort::TimeoutError));
    port->close(); // Qt closes a port itself when it finds the device gone
    QVERIFY(pidtune::isLineLost(*port, QSerialPort::ResourceError));
}

void SerialLinkTest::deviceNotReading()
{
    if (const QString why = unseenHere(Unseen::ReplacingAFrameInFlight); !why.isEmpty())
        QSKIP(qPrintable(why));
    connection->open(device->slavePath());
    const qint64 filler = device->stopReading();
    // None of these gets a byte onto the line, so each waits, one per identifier, a newer value
    // taking the older one's place in the line; the first one too.
    const std::tuple<int, float, const char *> releases[] = {
        {1, 1.0f, "1 帧等待发送"},
        {2, 2.0f, "2 帧等待发送"},
        {3, 3.0f, "3 帧等待发送"},
        {2, 4.0f, "3 帧等待发送，1 帧已被同一标识符的新值替换"},
        {1, 5.0f, "3 帧等待发送，2 帧已被同一标识符的新值替换"},
        {2, 6.0f, "3 帧等待发送，3 帧已被同一标识符的新值替换"},
    };
    for (const auto &[identifier, value, text] : releases) {
        connection->send(identifier, value);
        QCOMPARE(statuses.last(), QStringLiteral("设备未接收数据：") + QString::fromUtf8(text));
    }
    device->send(QByteArray(1 << 16, '\x5A')); // answers are drained meanwhile
    QTRY_COMPARE(device->pendingToSend(), qint64(0));
    device->resumeReading();
    QTRY_COMPARE(device->received().size(), filler + 3 * 9);
    QCOMPARE(device->takeReceived().mid(int(filler)),
             frameBytes(1, 5.0f) + frameBytes(2, 6.0f) + frameBytes(3, 3.0f));
    QTRY_COMPARE(statuses.last(), QStringLiteral("已发送：05 FA 06 03 04 00 00 40 40 (timed)"));
    QTRY_COMPARE(open->bytesAvailable(), qint64(0));
    // Waiting again: what was replaced before is not counted again, and closing says what is lost.
    device->stopReading();
    connection->send(4, 1.0f);
    QCOMPARE(statuses.last(), QStringLiteral("设备未接收数据：1 帧等待发送"));
    connection->close();
    QCOMPARE(statuses.last(), QStringLiteral("串口已关闭，1 帧未发出"));
    connection->send(1, 1.0f);
    QCOMPARE(statuses.last(), QStringLiteral("串口未打开，参数未发送"));
    connection->open(device->slavePath());
    connection->close(); // nothing waiting: closing says nothing
    QCOMPARE(statuses.last(), QString());
    // A port the driver closed under us refuses, with the reason.
    connection->open(device->slavePath());
    open->close();
    QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (QSerialPort): device not open");
    connection->send(1, 1.0f);
    QVERIFY2(statuses.last().startsWith(QStringLiteral("发送失败：")) && statuses.last().size() > 5,
             qPrintable(statuses.last()));
}

void SerialLinkTest::lostLine_data()
{
    QTest::addColumn<bool>("sendAtOnce");
    QTest::newRow("noticed while idle") << false;
    QTest::newRow("found by a send") << true;
}

void SerialLinkTest::lostLine()
{
    QFETCH(bool, sendAtOnce);
    if (const QString why = unseenHere(Unseen::HangUp); !why.isEmpty() && !sendAtOnce)
        QSKIP(qPrintable(why));
    QSignalSpy openChanged(connection.get(), &pidtune::PortConnection::openChanged);
    connection->open(device->slavePath());
    QPointer<QSerialPort> lost = open;
    device->unplug();
    if (sendAtOnce) { // before the event loop can notice: the write itself finds it gone
        connection->send(1, 1.0f);
        QVERIFY(!open);
    }
    QTRY_VERIFY(!open);
    QVERIFY2(statuses.last().startsWith(QStringLiteral("串口已断开：")),
             qPrintable(statuses.last()));
    QCOMPARE(openChanged.size(), 2);
    QCOMPARE(openChanged.last().at(0).toBool(), false);
    QTRY_VERIFY(lost.isNull());
}

void SerialLinkTest::releaseLetsGoOfEverything()
{
    LineSettings before, after;
    QVERIFY(device->lineSettings(&before));
    QVERIFY(pidtune::openLine(*port, QIODevice::ReadWrite).ok());
    QObject receiver;
    int reached = 0;
    pidtune::FrameOutbox &outbox = pidtune::frameOutbox(*port);
    connect(port.get(), &QSerialPort::readyRead, &receiver, [&reached] { ++reached; });
    connect(&outbox, &pidtune::FrameOutbox::progressed, &receiver, [&reached] { ++reached; });
    device->stopReading();
    outbox.send(pidtune::encodeParameterFrame(1, 1.0f));

    QCOMPARE(pidtune::releaseLine(*port, &receiver), 1); // the frame that never went
    QVERIFY(!port->isOpen());
    emit port->readyRead();
    emit outbox.progressed();
    QCOMPARE(reached, 0);
    // The terminal is left as it was found, and another program can open it.
    QVERIFY(device->lineSettings(&after));
    if (const QString why = unseenHere(Unseen::TerminalRestored); why.isEmpty()) {
        QCOMPARE(after.localFlags, before.localFlags);
        QCOMPARE(after.outputFlags, before.outputFlags);
    } else {
        qInfo("terminal settings not compared: %s", qPrintable(why));
    }
    QVERIFY(QSerialPort(device->slavePath()).open(QIODevice::ReadOnly));

    // Whatever a connection's old port still emits before it is deleted (errors raised while
    // closing a dead device, say) concerns a connection that is gone.
    connection->open(device->slavePath());
    QPointer<QSerialPort> released = open;
    connection->close();
    connection->open(device->slavePath());
    QVERIFY(released && released != open);
    statuses.clear();
    emit released->errorOccurred(QSerialPort::ResourceError);
    QVERIFY(open && open->isOpen() && statuses.isEmpty());
    QTRY_VERIFY(released.isNull());
}

void SerialLinkTest::stopSignalsArriveThroughTheEventLoop()
{
    if (const QString why = unseenHere(Unseen::ConsoleEvents); !why.isEmpty())
        QSKIP(qPrintable(why));
    {
        pidtune::StopSignals stopSignals;
        QSignalSpy stop(&stopSignals, &pidtune::StopSignals::stopRequested);
        const int hangup = requestStop(StopKind::Hangup);
        QVERIFY(stop.wait(5000));
        const int terminate = requestStop(StopKind::Terminate);
        QTRY_COMPARE(stop.size(), 2);
        QCOMPARE(stop.at(0).at(0).toInt(), hangup);
        QCOMPARE(stop.at(1).at(0).toInt(), terminate);
        QCOMPARE(stopSignals.received(), hangup); // the first one decides how the program ends
    }
    if (const std::optional<bool> restored = stopsHaveDefaultEffect())
        QVERIFY(*restored);
}

QTEST_GUILESS_MAIN(SerialLinkTest)
#include "tst_seriallink.moc"
