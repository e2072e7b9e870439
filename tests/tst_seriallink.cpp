// SPDX-License-Identifier: MIT
// The serial line without a window, over a pseudo-terminal in which the test plays the device.
#include "pseudoterminal.h"
#include "serial/frameoutbox.h"
#include "serial/seriallink.h"
#include "serial/stopsignals.h"

#include <QtTest>

#include <csignal>
#include <termios.h>

using pidtune::OpenFailure;

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
    }
    void openAppliesTheLineSettings();
    void openFailures();
    void aFullLineIsNotALostLine();
    void waitingFramesKeepTheLatestValueInLineOrder();
    void releaseLetsGoOfEverything();
    void stopSignalsArriveThroughTheEventLoop();

private:
    std::unique_ptr<PseudoTerminal> device;
    std::unique_ptr<QSerialPort> port;
};

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

void SerialLinkTest::openFailures()
{
    QSerialPort holder(device->slavePath()); // another program holding the device
    QVERIFY(pidtune::openLine(holder, QIODevice::ReadOnly).ok());
    const std::pair<QString, OpenFailure> attempts[]
        = {{QStringLiteral("/dev/pidtune-no-such-port"), OpenFailure::NotFound},
           {QCoreApplication::applicationFilePath(), OpenFailure::Other}, // not a terminal
           {device->slavePath(), OpenFailure::InUse}};
    for (const auto &[name, failure] : attempts) {
        port->setPortName(name);
        const pidtune::OpenResult result = pidtune::openLine(*port, QIODevice::ReadWrite);
        QCOMPARE(int(result.failure), int(failure));
        QVERIFY(!result.reason.isEmpty());
        QVERIFY(!port->isOpen());
    }
}

void SerialLinkTest::aFullLineIsNotALostLine()
{
    QVERIFY(pidtune::openLine(*port, QIODevice::ReadWrite).ok());
    QSignalSpy errors(port.get(), &QSerialPort::errorOccurred);
    device->stopReading();
    const pidtune::ParameterFrame frame = pidtune::encodeParameterFrame(1, 1.0f);
    QCOMPARE(pidtune::frameOutbox(*port).send(frame), pidtune::FrameOutbox::Outcome::Waiting);
    QVERIFY(!errors.isEmpty()); // the driver's "try again" comes as a ResourceError
    for (const QList<QVariant> &error : errors)
        QVERIFY(!pidtune::isLineLost(*port, error[0].value<QSerialPort::SerialPortError>()));

    device->unplug();
    QVERIFY(pidtune::isLineLost(*port, QSerialPort::ResourceError));
    QVERIFY(pidtune::isLineLost(*port, QSerialPort::ReadError));
    QVERIFY(!pidtune::isLineLost(*port, QSerialPort::TimeoutError));
    port->close(); // Qt closes a port itself when it finds the device gone
    QVERIFY(pidtune::isLineLost(*port, QSerialPort::ResourceError));
}

void SerialLinkTest::waitingFramesKeepTheLatestValueInLineOrder()
{
    using Outcome = pidtune::FrameOutbox::Outcome;
    const auto frame = [](int identifier, float value) {
        return pidtune::encodeParameterFrame(identifier, value);
    };
    pidtune::FrameOutbox &outbox = pidtune::frameOutbox(*port);
    QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (QSerialPort): device not open");
    QCOMPARE(outbox.send(frame(1, 1.0f)), Outcome::Refused);
    QVERIFY(!outbox.reason().isEmpty());
    QVERIFY(pidtune::openLine(*port, QIODevice::ReadWrite).ok());
    const qint64 filler = device->stopReading();
    // The first frame goes alone; the others wait, one per identifier, a newer value taking
    // the older one's place in the line.
    for (const auto &[identifier, value] :
         {std::pair {1, 1.0f}, {2, 2.0f}, {3, 3.0f}, {2, 4.0f}, {1, 5.0f}, {2, 6.0f}})
        QCOMPARE(outbox.send(frame(identifier, value)), Outcome::Waiting);
    QCOMPARE(outbox.waiting(), 4);
    QCOMPARE(outbox.replaced(), 2);
    device->resumeReading();
    QTRY_COMPARE(device->received().size(), filler + 4 * 9);
    QCOMPARE(device->takeReceived().mid(int(filler)),
             frameBytes(1, 1.0f) + frameBytes(2, 6.0f) + frameBytes(3, 3.0f) + frameBytes(1, 5.0f));
    QTRY_COMPARE(outbox.waiting(), 0);
    QCOMPARE(pidtune::frameToHex(outbox.lastSent()), pidtune::frameToHex(frame(1, 5.0f)));
    QCOMPARE(outbox.replaced(), 0);

    // A frame that waited alone counts as sent once the line takes it.
    const qint64 more = device->stopReading();
    QCOMPARE(outbox.send(frame(7, 7.0f)), Outcome::Waiting);
    device->resumeReading();
    QTRY_COMPARE(device->received().size(), more + 9);
    QTRY_COMPARE(outbox.waiting(), 0);
    QCOMPARE(pidtune::frameToHex(outbox.lastSent()), pidtune::frameToHex(frame(7, 7.0f)));
}

void SerialLinkTest::releaseLetsGoOfEverything()
{
    termios before {}, after {};
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
    QCOMPARE(after.c_lflag, before.c_lflag);
    QCOMPARE(after.c_oflag, before.c_oflag);
    QVERIFY(QSerialPort(device->slavePath()).open(QIODevice::ReadOnly));
}

void SerialLinkTest::stopSignalsArriveThroughTheEventLoop()
{
    {
        pidtune::StopSignals stopSignals;
        QSignalSpy stop(&stopSignals, &pidtune::StopSignals::stopRequested);
        std::raise(SIGHUP);
        QVERIFY(stop.wait(5000));
        std::raise(SIGTERM);
        QTRY_COMPARE(stop.size(), 2);
        QCOMPARE(stop.at(0).at(0).toInt(), SIGHUP);
        QCOMPARE(stop.at(1).at(0).toInt(), SIGTERM);
        QCOMPARE(stopSignals.received(), SIGHUP); // the first one decides how the program ends
    }
    struct sigaction handling
    {
    };
    QVERIFY(::sigaction(SIGTERM, nullptr, &handling) == 0);
    QVERIFY(handling.sa_handler == SIG_DFL);
}

QTEST_GUILESS_MAIN(SerialLinkTest)
#include "tst_seriallink.moc"
