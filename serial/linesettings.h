// SPDX-License-Identifier: MIT
#pragma once

#include <QSerialPort>

namespace pidtune {

// The line every pidtune program speaks: 115200 baud both ways, 8 data bits, 1 stop bit, no flow
// control, parity left at its default (none). Applied to an open port; false if the port refused
// any of it, in which case its errorString() says why. Header-only so that programs without
// widgets (pidtune-monitor) share it without linking the window's library.
inline bool applyLineSettings(QSerialPort &port)
{
    return port.setBaudRate(115200, QSerialPort::AllDirections)
        && port.setDataBits(QSerialPort::Data8) && port.setStopBits(QSerialPort::OneStop)
        && port.setFlowControl(QSerialPort::NoFlowControl);
}

} // namespace pidtune
