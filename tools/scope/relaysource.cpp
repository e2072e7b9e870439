// SPDX-License-Identifier: MIT
#include "relaysource.h"

#include "serial/ptyport.h"
#include "serial/seriallink.h"

namespace pidtune::scope {

std::unique_ptr<RelaySource> RelaySource::open(const QString &devicePort, qint32 baudRate,
                                               QString *error)
{
    auto device = std::make_unique<QSerialPort>(devicePort);
    const pidtune::OpenResult result = pidtune::openLine(*device, QIODevice::ReadWrite, baudRate);
    if (!result.ok()) {
        *error = result.reason;
        return nullptr;
    }
    auto forPidtune = std::make_unique<pidtune::PtyPort>();
    QString path;
    if (!forPidtune->open(&path, error))
        return nullptr;
    return std::unique_ptr<RelaySource>(
        new RelaySource(std::move(device), std::move(forPidtune), path));
}

RelaySource::RelaySource(std::unique_ptr<QSerialPort> device,
                         std::unique_ptr<pidtune::PtyPort> forPidtune, const QString &path)
    : port(std::move(device)), pty(std::move(forPidtune)), ptyPath(path)
{
    connect(port.get(), &QSerialPort::readyRead, this, &RelaySource::readDevice);
    connect(port.get(), &QSerialPort::errorOccurred, this, &RelaySource::handleDeviceError);
    connect(port.get(), &QSerialPort::bytesWritten, this, &RelaySource::resumeRelay);
    connect(pty.get(), &pidtune::PtyPort::received, this, &RelaySource::relayToDevice);
    connect(pty.get(), &pidtune::PtyPort::failed, this, &RelaySource::ended);
}

RelaySource::~RelaySource() = default;

void RelaySource::readDevice()
{
    const QByteArray bytes = port->readAll();
    // pidtune reads what the device says and drops it; while its port is closed nobody reads the
    // pseudo-terminal, and what no longer fits there is dropped here.
    pty->write(bytes.constData(), bytes.size());
    emit received(bytes);
}

void RelaySource::handleDeviceError(QSerialPort::SerialPortError error)
{
    if (!pidtune::isLineLost(*port, error))
        return;
    const QString reason = QStringLiteral("%1: %2; the relay ended and closed pidtune's port")
                               .arg(port->portName(), port->errorString());
    pidtune::releaseLine(*port, this);
    pty->close(); // pidtune sees its line lost, as it would with the device itself
    emit ended(reason);
}

void RelaySource::relayToDevice(const QByteArray &bytes)
{
    // Handed to the driver now, not on a later pass of the event loop: a release must reach
    // the device as soon as it would without the relay.
    port->write(bytes);
    port->flush();
    // A device slower than pidtune: the rest waits in the port, and pidtune's next bytes wait
    // in its pseudo-terminal until the device has taken it, so that none is dropped and pidtune
    // sees a device that does not take its frames, which is what it is.
    if (port->isOpen() && port->bytesToWrite() > 0)
        pty->setReading(false);
}

void RelaySource::resumeRelay()
{
    if (port->bytesToWrite() == 0)
        pty->setReading(true);
}

std::unique_ptr<Source> openRelay(const QString &devicePort, qint32 baudRate, QString *error)
{
    return RelaySource::open(devicePort, baudRate, error);
}

} // namespace pidtune::scope
