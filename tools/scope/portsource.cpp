// SPDX-License-Identifier: MIT
#include "portsource.h"

#include "serial/seriallink.h"

namespace pidtune::scope {

std::unique_ptr<PortSource> PortSource::open(const QString &name, qint32 baudRate, QString *error)
{
    auto port = std::make_unique<QSerialPort>(name);
    const pidtune::OpenResult result = pidtune::openLine(*port, QIODevice::ReadOnly, baudRate);
    if (!result.ok()) {
        *error = result.reason;
        return nullptr;
    }
    return std::unique_ptr<PortSource>(new PortSource(std::move(port)));
}

PortSource::PortSource(std::unique_ptr<QSerialPort> opened) : port(std::move(opened))
{
    connect(port.get(), &QSerialPort::readyRead, this, &PortSource::read);
    connect(port.get(), &QSerialPort::errorOccurred, this, &PortSource::handleError);
}

void PortSource::read()
{
    emit received(port->readAll());
}

void PortSource::handleError(QSerialPort::SerialPortError error)
{
    if (!pidtune::isLineLost(*port, error))
        return;
    const QString reason = QStringLiteral("%1: %2").arg(port->portName(), port->errorString());
    pidtune::releaseLine(*port, this);
    emit ended(reason);
}

} // namespace pidtune::scope
