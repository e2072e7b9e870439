// SPDX-License-Identifier: MIT
#include "seriallink.h"

#include "serial/frameoutbox.h"
#include "serial/seriallink_p.h"

namespace pidtune {

namespace {

OpenFailure classify(const QSerialPort &port)
{
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return OpenFailure::NotFound;
    case QSerialPort::PermissionError:
        return platform::mayOpenDevice(port) ? OpenFailure::InUse : OpenFailure::NoAccess;
    default:
        return OpenFailure::Other;
    }
}

} // namespace

bool applyLineSettings(QSerialPort &port, qint32 baudRate)
{
    return port.setBaudRate(baudRate, QSerialPort::AllDirections)
        && port.setDataBits(QSerialPort::Data8) && port.setStopBits(QSerialPort::OneStop)
        && port.setFlowControl(QSerialPort::NoFlowControl);
}

OpenResult openLine(QSerialPort &port, QIODevice::OpenMode mode, qint32 baudRate)
{
    if (OpenResult held = platform::heldElsewhere(port); !held.ok())
        return held;
    if (!port.open(mode))
        return {classify(port), port.errorString()};
    if (!applyLineSettings(port, baudRate)) {
        OpenResult refused {OpenFailure::Other, port.errorString()};
        port.close();
        return refused;
    }
    return {};
}

bool isLineLost(const QSerialPort &port, QSerialPort::SerialPortError error)
{
    // Raised by a port that is open, a permission error cannot be about opening it: Windows
    // answers "access denied" to the pending wait of an adapter that was unplugged.
    if (error == QSerialPort::PermissionError)
        return port.isOpen() && platform::lineHungUp(port, error);
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError
        && error != QSerialPort::WriteError)
        return false; // parity, framing, timeouts and the like: the line still carries bytes
    if (!port.isOpen())
        return true;
    return platform::lineHungUp(port, error);
}

int releaseLine(QSerialPort &port, const QObject *receiver)
{
    FrameOutbox *outbox = port.findChild<FrameOutbox *>(QString(), Qt::FindDirectChildrenOnly);
    const int waiting = outbox ? outbox->waiting() : 0;
    port.disconnect(receiver);
    if (outbox)
        outbox->disconnect(receiver);
    if (port.isOpen()) // a port the driver closed already has nothing to clear
        port.clear(QSerialPort::AllDirections);
    port.close();
    return waiting;
}

} // namespace pidtune
