// SPDX-License-Identifier: MIT
// The relay for boards with a single UART: pidtune's frames and the device's telemetry share
// the device's port, which the scope holds.
#include "serial/ptyport.h"
#include "serial/seriallink.h"
#include "source.h"

namespace pidtune::scope {

bool Source::openRelay(const QString &devicePort, qint32 baudRate, QString *ptyPath, QString *error)
{
    auto device = std::make_unique<QSerialPort>(devicePort);
    const pidtune::OpenResult result = pidtune::openLine(*device, QIODevice::ReadWrite, baudRate);
    if (!result.ok()) {
        *error = result.reason;
        return false;
    }
    auto forPidtune = std::make_unique<pidtune::PtyPort>();
    if (!forPidtune->open(ptyPath, error))
        return false;
    port = std::move(device);
    pty = std::move(forPidtune);
    connect(port.get(), &QSerialPort::readyRead, this, &Source::readPort);
    connect(port.get(), &QSerialPort::errorOccurred, this, &Source::handlePortError);
    connect(port.get(), &QSerialPort::bytesWritten, this, &Source::resumeRelay);
    connect(pty.get(), &pidtune::PtyPort::received, this, &Source::relayToDevice);
    connect(pty.get(), &pidtune::PtyPort::failed, this, &Source::ended);
    return true;
}

void Source::relayToDevice(const QByteArray &bytes)
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

void Source::resumeRelay()
{
    if (port->bytesToWrite() == 0)
        pty->setReading(true);
}

} // namespace pidtune::scope
