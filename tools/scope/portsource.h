// SPDX-License-Identifier: MIT
#pragma once

#include "source.h"

#include <QSerialPort>

namespace pidtune::scope {

// A serial port or pseudo-terminal, read-only, 8N1 at the given speed, through the project's
// serial link.
class PortSource : public Source
{
    Q_OBJECT

public:
    static std::unique_ptr<PortSource> open(const QString &name, qint32 baudRate, QString *error);

private:
    explicit PortSource(std::unique_ptr<QSerialPort> port);
    void read();
    void handleError(QSerialPort::SerialPortError error);

    std::unique_ptr<QSerialPort> port;
};

} // namespace pidtune::scope
