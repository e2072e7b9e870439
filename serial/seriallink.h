// SPDX-License-Identifier: MIT
#pragma once

#include <QIODevice>
#include <QSerialPort>
#include <QString>

class QObject;

// The serial line as every pidtune program uses it, with no window attached: opening with the
// fixed line settings, telling a lost line from a passing error, and letting go of a port.
namespace pidtune {

// pidtune's line speed, both ways.
constexpr qint32 kBaudRate = 115200;

// The baud rate both ways, 8 data bits, 1 stop bit, no flow control; parity stays at the port's
// default, none. False if the port refused any of it; its errorString() then says why.
bool applyLineSettings(QSerialPort &port, qint32 baudRate = kBaudRate);

enum class OpenFailure {
    None,
    NotFound, // no such device, or it went away since it was listed
    NoAccess, // this user may not open it (on Linux: not in the dialout group)
    InUse, // another program holds it
    Other, // anything else, including a device that refused the line settings
};

struct OpenResult
{
    OpenFailure failure = OpenFailure::None;
    QString reason; // the system's own words, for the operator
    bool ok() const { return failure == OpenFailure::None; }
};

// Opens the port already named on it and applies the line settings. A port that took only some
// of them would put wrong bytes on the wire, so that counts as a failure too; on any failure the
// port is left closed.
OpenResult openLine(QSerialPort &port, QIODevice::OpenMode mode, qint32 baudRate = kBaudRate);

// Whether the error means the line is gone (the adapter unplugged, the other end of a
// pseudo-terminal closed) rather than a passing condition such as a full output buffer, which
// the driver reports with the same error codes.
bool isLineLost(const QSerialPort &port, QSerialPort::SerialPortError error);

// Lets go of an open port: nothing of it reaches receiver any more, even errors raised while
// closing a dead device, and unsent bytes are discarded so that closing never waits on a stuck
// device. The caller deletes the object (with deleteLater when inside one of its signals).
// Returns how many frames were still waiting to go out.
int releaseLine(QSerialPort &port, const QObject *receiver);

} // namespace pidtune
