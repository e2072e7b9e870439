// SPDX-License-Identifier: MIT
#pragma once

#include "seriallink.h"

// What the serial line asks of the system, each platform in its own file: seriallink_unix.cpp,
// seriallink_win.cpp. Only the serial link's own files use these.
namespace pidtune::platform {

// Whether this user may open the port's device at all: Qt reports a port held by another
// program with the same error as one the user has no rights to, and only the device's own
// permissions tell them apart.
bool mayOpenDevice(const QSerialPort &port);

// A port that another program holds by the system's own convention (a lock file), found before
// opening it: the failure to report, or a result that is ok().
OpenResult heldElsewhere(const QSerialPort &port);

// Whether an error Qt reported as a read, write or resource error means the line is gone, on a
// port that is still open.
bool lineHungUp(const QSerialPort &port, QSerialPort::SerialPortError error);

// Writes straight to the driver, past the port's own buffer, so that what the driver does not
// take stays the caller's. Returns how many bytes it took (0 while the line is full), or -1 where
// there is no such way (the caller then writes through the port, which reports any error).
qint64 writeToDriver(QSerialPort &port, const char *data, qint64 size);

// Gives a write the port started a moment to reach the driver, so that a frame a working line
// takes at once is not reported as waiting. Where the port wrote synchronously it does nothing.
void settleWrite(QSerialPort &port);

} // namespace pidtune::platform
