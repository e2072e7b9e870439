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
    pidtune::StopSignals stopSignals;
    QSignalSpy stop(&stopSignals, &pidtune::StopSignals::stopRequested);
    std::raise(SIGHUP);
    QVERIFY(stop.wait(5000));
    QCOMPARE(stop.at(0).at(0).toInt(), SIGHUP);
    QCOMPARE(stopSignals.received(), SIGHUP);
}

QTEST_GUILESS_MAIN(SerialLinkTest)
#include "tst_seriallink.moc"
