// SPDX-License-Identifier: MIT
#include "portconnection.h"

#include "serial/frameoutbox.h"
#include "serial/parameterframe.h"
#include "serial/seriallink.h"

#include <QDir>
#include <QSerialPortInfo>

#include <memory>
#include <utility>

namespace pidtune {

QStringList availablePortNames()
{
    // Listed once: a port plugged in later shows up after a restart.
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        names << port.portName();
    const QStringList extra
        = qEnvironmentVariable("PIDTUNE_EXTRA_PORTS").split(QDir::listSeparator());
    for (const QString &path : extra) {
        if (!path.isEmpty() && !names.contains(path))
            names << path;
    }
    return names;
}

PortConnection::PortConnection(QSerialPort *&port, QObject *parent)
    : QObject(parent), port(port) { }

PortConnection::~PortConnection()
{
    if (QSerialPort *open = std::exchange(port, nullptr)) {
        releaseLine(*open, this);
        delete open;
    }
}

void PortConnection::open(const QString &name)
{
    if (name.isEmpty()) {
        fail(tr("没有可用的串口"));
        return;
    }
    auto opening = std::make_unique<QSerialPort>(name);
    const OpenResult opened = openLine(*opening, QIODevice::ReadWrite);
    switch (opened.failure) {
    case OpenFailure::None:
        break;
    case OpenFailure::InUse:
        fail(tr("无法打开串口 %1：串口正被其他程序占用（%2）").arg(name, opened.reason));
        return;
    case OpenFailure::NoAccess:
        fail(tr("无法打开串口 %1：没有访问权限（%2）").arg(name, opened.reason));
        return;
    default:
        fail(tr("无法打开串口 %1：%2").arg(name, opened.reason));
        return;
    }

    QSerialPort *const raw = opening.get();
    connect(raw, &QSerialPort::readyRead, this, &PortConnection::dataArrived);
    connect(raw, &QSerialPort::errorOccurred, this,
            [this, raw](QSerialPort::SerialPortError error) { handleError(raw, error); });
    const FrameOutbox &outbox = frameOutbox(*raw);
    connect(&outbox, &FrameOutbox::progressed, this, [this, &outbox] { showSendState(outbox); });
    port = opening.release();
    emit openChanged(true);
    emit status(QString(), 0);
}

void PortConnection::close()
{
    const int unsent = release();
    if (unsent > 0)
        fail(tr("串口已关闭，%1 帧未发出").arg(unsent));
    else
        emit status(QString(), 0);
}

void PortConnection::drain()
{
    // The device's answers carry nothing we use; reading them keeps the buffer from growing.
    if (port)
        port->readAll();
}

void PortConnection::handleError(QSerialPort *source, QSerialPort::SerialPortError error)
{
    if (!isLineLost(*source, error))
        return;
    const QString reason = source->errorString();
    release();
    fail(tr("串口已断开：%1").arg(reason));
}

int PortConnection::release()
{
    QSerialPort *released = std::exchange(port, nullptr);
    emit openChanged(false);
    if (!released)
        return 0;
    const int unsent = releaseLine(*released, this);
    released->deleteLater(); // we may be inside one of its signals
    return unsent;
}

void PortConnection::send(int identifier, float value)
{
    if (!port) {
        fail(tr("串口未打开，参数未发送"));
        return;
    }
    FrameOutbox &outbox = frameOutbox(*port);
    switch (outbox.send(encodeParameterFrame(identifier, value))) {
    case FrameOutbox::Outcome::Refused:
        fail(tr("发送失败：%1").arg(outbox.reason()));
        break;
    case FrameOutbox::Outcome::LineLost:
        break; // the port's error has closed the connection and said why
    default:
        showSendState(outbox);
        break;
    }
}

void PortConnection::showSendState(const FrameOutbox &outbox)
{
    if (outbox.waiting() == 0) {
        emit status(tr("已发送：%1").arg(frameToHex(outbox.lastSent())), kSentMessageTimeoutMs);
    } else if (outbox.replaced() == 0) {
        fail(tr("设备未接收数据：%1 帧等待发送").arg(outbox.waiting()));
    } else {
        fail(tr("设备未接收数据：%1 帧等待发送，%2 帧已被同一标识符的新值替换")
                 .arg(outbox.waiting())
                 .arg(outbox.replaced()));
    }
}

} // namespace pidtune
