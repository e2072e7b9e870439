// SPDX-License-Identifier: MIT
// The serial line without a window, over a pseudo-terminal in which the test plays the device.
#include "pseudoterminal.h"
#include "serial/frameoutbox.h"
#include "serial/seriallink.h"
#include "serial/stopsignals.h"

#include <QtTest>

#include <csignal>
#include <termios.h>

using pidtune::FrameOutbox;
Q_DECLARE_METATYPE(pidtune::OpenFailure)

namespace {

QByteArray bytes(const pidtune::ParameterFrame &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
}

pidtune::ParameterFrame frame(int identifier, float value)
{
    return pidtune::encodeParameterFrame(identifier, value);
}

} // namespace

class SerialLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void openAppliesTheLineSettings();
    void openFailures_data();
    void openFailures();
    void aDeviceNotReadingKeepsTheLatestValuePerParameter();
    void aFullLineIsNotALostLine();
    void releaseLetsGoOfEverything();
    void stopSignalsArriveThroughTheEventLoop();

private:
    std::unique_ptr<PseudoTerminal> device;
    std::unique_ptr<QSerialPort> port;
};

void SerialLinkTest::init()
{
    device = std::make_unique<PseudoTerminal>();
    if (!device->isValid())
        QSKIP(qPrintable(device->reason()));
    port = std::make_unique<QSerialPort>(device->slavePath());
}

void SerialLinkTest::openAppliesTheLineSettings()
{
    QVERIFY(pidtune::openLine(*port, QIODevice::ReadWrite).ok());
    termios settings {};
    QVERIFY(device->lineSettings(&settings));
    QCOMPARE(cfgetispeed(&settings), speed_t(B115200));
    QCOMPARE(cfgetospeed(&settings), speed_t(B115200));
    QCOMPARE(settings.c_cflag & (CSIZE | CSTOPB | PARENB | CRTSCTS), tcflag_t(CS8));
    QCOMPARE(settings.c_iflag & (IXON | IXOFF), tcflag_t(0));
    // Raw: a frame byte of 0x0A must not become 0D 0A, nor anything be echoed back.
    QCOMPARE(settings.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(settings.c_lflag & (ICANON | ECHO), tcflag_t(0));
}

void SerialLinkTest::openFailures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<pidtune::OpenFailure>("failure");
    QTest::newRow("no such device")
        << "/dev/pidtune-no-such-port" << pidtune::OpenFailure::NotFound;
    QTest::newRow("not a terminal")
        << QCoreApplication::applicationFilePath() << pidtune::OpenFailure::Other;
    QTest::newRow("in use") << QString() << pidtune::OpenFailure::InUse;
}

void SerialLinkTest::openFailures()
{
    QFETCH(QString, name);
    QFETCH(pidtune::OpenFailure, failure);
    QSerialPort other(device->slavePath());
    if (name.isEmpty())
        QVERIFY(pidtune::openLine(other, QIODevice::ReadOnly).ok());
    else
        port->setPortName(name);
    const pidtune::OpenResult result = pidtune::openLine(*port, QIODevice::ReadWrite);
    QCOMPARE(result.failure, failure);
    QVERIFY(!result.reason.isEmpty());
    QVERIFY(!port->isOpen());
}

void SerialLinkTest::aDeviceNotReadingKeepsTheLatestValuePerParameter()
{
    QVERIFY(pidtune::openLine(*port, QIODevice::ReadWrite).ok());
    FrameOutbox &outbox = pidtune::frameOutbox(*port);
    QCOMPARE(outbox.send(frame(9, 0.5f)), FrameOutbox::Outcome::Sent);
    QCOMPARE(outbox.lastSent(), frame(9, 0.5f));
    QTRY_COMPARE(device->received(), bytes(frame(9, 0.5f)));

    const qint64 filler = device->stopReading();
    for (const auto &[identifier, value] : {std::pair {1, 1.0f}, {2, 2.0f}, {1, 3.0f}, {2, 4.0f}})
        QCOMPARE(outbox.send(frame(identifier, value)), FrameOutbox::Outcome::Waiting);
    // 1 = 1.0 already partly handed over; then 2 = 2.0, replaced by 2 = 4.0 in its place; 1 = 3.0.
    QCOMPARE(outbox.waiting(), 3);
    QCOMPARE(outbox.replaced(), 1);

    QSignalSpy progressed(&outbox, &FrameOutbox::progressed);
    device->takeReceived();
    device->resumeReading();
    QTRY_COMPARE(device->received().size(), filler + 27);
    QCOMPARE(device->received().mid(int(filler)),
             bytes(frame(1, 1.0f)) + bytes(frame(2, 4.0f)) + bytes(frame(1, 3.0f)));
    QTRY_COMPARE(outbox.waiting(), 0);
    QVERIFY(!progressed.isEmpty());
    QCOMPARE(outbox.lastSent(), frame(1, 3.0f));
    QCOMPARE(outbox.replaced(), 0);
}

void SerialLinkTest::aFullLineIsNotALostLine()
{
    QVERIFY(pidtune::openLine(*port, QIODevice::ReadWrite).ok());
    QSignalSpy errors(port.get(), &QSerialPort::errorOccurred);
    device->stopReading();
    QCOMPARE(pidtune::frameOutbox(*port).send(frame(1, 1.0f)), FrameOutbox::Outcome::Waiting);
    QVERIFY(!errors.isEmpty()); // the driver's "try again" comes as a ResourceError
    for (const QList<QVariant> &error : errors)
        QVERIFY(!pidtune::isLineLost(*port, error[0].value<QSerialPort::SerialPortError>()));

    device->unplug();
    QVERIFY(pidtune::isLineLost(*port, QSerialPort::ResourceError));
    QVERIFY(pidtune::isLineLost(*port, QSerialPort::ReadError));
    QVERIFY(!pidtune::isLineLost(*port, QSerialPort::TimeoutError));
}

void SerialLinkTest::releaseLetsGoOfEverything()
{
    termios before {}, after {};
    QVERIFY(device->lineSettings(&before));
    QVERIFY(pidtune::openLine(*port, QIODevice::ReadWrite).ok());
    QObject receiver;
    int reached = 0;
    connect(port.get(), &QSerialPort::readyRead, &receiver, [&reached] { ++reached; });
    connect(&pidtune::frameOutbox(*port), &FrameOutbox::progressed, &receiver,
            [&reached] { ++reached; });
    device->stopReading();
    pidtune::frameOutbox(*port).send(frame(1, 1.0f));

    QCOMPARE(pidtune::releaseLine(*port, &receiver), 1);
    QVERIFY(!port->isOpen());
    emit port->readyRead();
    emit pidtune::frameOutbox(*port).progressed();
    QCOMPARE(reached, 0);
    // The terminal is left as it was found, and another program can open it.
    QVERIFY(device->lineSettings(&after));
    QCOMPARE(after.c_lflag, before.c_lflag);
    QCOMPARE(after.c_oflag, before.c_oflag);
    QVERIFY(QSerialPort(device->slavePath()).open(QIODevice::ReadOnly));
}

void SerialLinkTest::stopSignalsArriveThroughTheEventLoop()
{
    pidtune::StopSignals stopSignals;
    QSignalSpy stop(&stopSignals, &pidtune::StopSignals::stopRequested);
    std::raise(SIGHUP);
    QVERIFY(stop.wait(5000));
    QCOMPARE(stop.at(0).at(0).toInt(), SIGHUP);
    QCOMPARE(stopSignals.received(), SIGHUP);
}

QTEST_GUILESS_MAIN(SerialLinkTest)
#include "tst_seriallink.moc"
