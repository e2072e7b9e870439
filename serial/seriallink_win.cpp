// SPDX-License-Identifier: MIT
#include "seriallink_p.h"

#include <windows.h>

namespace pidtune::platform {

bool mayOpenDevice(const QSerialPort &)
{
    // Windows answers "access denied" for a port that another program holds; its COM ports have
    // no per-user rights, so that answer always means the port is in use.
    return true;
}

OpenResult heldElsewhere(const QSerialPort &)
{
    return {}; // Windows itself refuses a second opening of a port
}

bool lineHungUp(const QSerialPort &port, QSerialPort::SerialPortError error)
{
    // An unplugged adapter fails the port's pending wait or read: Qt reports ERROR_DEVICE_REMOVED
    // or ERROR_BAD_COMMAND as a resource error, and ERROR_ACCESS_DENIED (what many USB-serial
    // drivers answer once the device is gone) as a permission error.
    if (error == QSerialPort::ResourceError || error == QSerialPort::PermissionError)
        return true;
    // A read or write the driver refused (a removed device's write often fails as "not ready"
    // or "not functioning", which Qt reports as a read or write error): the line is gone when
    // the driver no longer answers for the port at all; one that still gives its settings
    // keeps working.
    DCB settings;
    ZeroMemory(&settings, sizeof settings);
    settings.DCBlength = sizeof settings;
    return !GetCommState(static_cast<HANDLE>(port.handle()), &settings);
}

qint64 writeToDriver(QSerialPort &, const char *, qint64)
{
    // Qt writes with overlapped I/O of its own; a second writer on the handle would race it.
    return -1;
}

void settleWrite(QSerialPort &port)
{
    // Qt's overlapped write is still pending when flush() returns, though a driver that is
    // taking bytes completes it within microseconds: waiting for it briefly here tells a line
    // that takes frames from one that does not. Longer than this and the frame counts as
    // waiting; its completion later resumes the outbox as on any system.
    constexpr int kSettleMs = 20;
    // A write the driver refused may have closed the port already (the line was lost).
    if (port.isOpen() && port.bytesToWrite() > 0)
        port.waitForBytesWritten(kSettleMs);
}

} // namespace pidtune::platform
