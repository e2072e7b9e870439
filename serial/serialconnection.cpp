// SPDX-License-Identifier: MIT
// The window's one serial connection: listing ports, opening and closing, draining what the
// device sends, writing frames, and noticing when the device goes away.
#include "app/mainwindow.h"
#include "serial/frameoutbox.h"
#include "serial/parameterframe.h"
#include "serial/seriallink.h"
#include "ui/mainwindowform.h"

#include <QDir>
#include <QSerialPortInfo>

#include <memory>
#include <utility>

namespace {

// Status texts that report success stay this long; failures stay until something replaces them.
constexpr int kSentMessageTimeoutMs = 5000;

} // namespace

void MainWindow::fillPortSelector()
{
    // Listed once: a port plugged in later shows up after a restart.
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        ui->Port_Number_comboBox->addItem(port.portName());

    // Devices the system does not report as serial ports, such as the pseudo-terminal of
    // pidtune-monitor --pty, are named by path in PIDTUNE_EXTRA_PORTS, after the real ones.
    const QStringList extra
        = qEnvironmentVariable("PIDTUNE_EXTRA_PORTS").split(QDir::listSeparator());
    for (const QString &path : extra) {
        if (!path.isEmpty() && ui->Port_Number_comboBox->findText(path) < 0)
            ui->Port_Number_comboBox->addItem(path);
    }
}

void MainWindow::on_openButton_clicked()
{
    // The caption is the connection's state.
    if (ui->openButton->text() == tr("打开串口"))
        openPort();
    else
        closePort();
}

void MainWindow::Read_Data()
{
    // The device's answers carry nothing we use; reading them keeps the buffer from growing.
    if (serialPort)
        serialPort->readAll();
}

void MainWindow::openPort()
{
    const QString name = ui->Port_Number_comboBox->currentText();
    if (name.isEmpty()) {
        showFailure(tr("没有可用的串口"));
        return;
    }

    auto port = std::make_unique<QSerialPort>(name);
    const pidtune::OpenResult opened = pidtune::openLine(*port, QIODevice::ReadWrite);
    switch (opened.failure) {
    case pidtune::OpenFailure::None:
        break;
    case pidtune::OpenFailure::InUse:
        showFailure(tr("无法打开串口 %1：串口正被其他程序占用（%2）").arg(name, opened.reason));
        return;
    case pidtune::OpenFailure::NoAccess:
        showFailure(tr("无法打开串口 %1：没有访问权限（%2）").arg(name, opened.reason));
        return;
    default:
        showFailure(tr("无法打开串口 %1：%2").arg(name, opened.reason));
        return;
    }

    QSerialPort *const raw = port.get();
    connect(raw, &QSerialPort::readyRead, this, &MainWindow::Read_Data);
    connect(raw, &QSerialPort::errorOccurred, this,
            [this, raw](QSerialPort::SerialPortError error) { handlePortError(raw, error); });
    const pidtune::FrameOutbox &outbox = pidtune::frameOutbox(*raw);
    connect(&outbox, &pidtune::FrameOutbox::progressed, this,
            [this, &outbox] { showSendState(outbox); });
    serialPort = port.release();
    ui->openButton->setText(tr("关闭串口"));
    statusBar()->clearMessage();
}

void MainWindow::closePort()
{
    const int unsent = releasePort();
    if (unsent > 0)
        showFailure(tr("串口已关闭，%1 帧未发出").arg(unsent));
    else
        statusBar()->clearMessage();
}

void MainWindow::handlePortError(QSerialPort *port, QSerialPort::SerialPortError error)
{
    if (!pidtune::isLineLost(*port, error))
        return;
    const QString reason = port->errorString();
    releasePort();
    showFailure(tr("串口已断开：%1").arg(reason));
}

int MainWindow::releasePort()
{
    ui->openButton->setText(tr("打开串口"));
    QSerialPort *port = std::exchange(serialPort, nullptr);
    if (!port)
        return 0;
    const int unsent = pidtune::releaseLine(*port, this);
    port->deleteLater(); // we may be inside one of its signals
    return unsent;
}

void MainWindow::sendFrame(int identifier, float value)
{
    if (!serialPort) {
        showFailure(tr("串口未打开，参数未发送"));
        return;
    }
    pidtune::FrameOutbox &outbox = pidtune::frameOutbox(*serialPort);
    switch (outbox.send(pidtune::encodeParameterFrame(identifier, value))) {
    case pidtune::FrameOutbox::Outcome::Refused:
        showFailure(tr("发送失败：%1").arg(outbox.reason()));
        break;
    case pidtune::FrameOutbox::Outcome::LineLost:
        break; // the port's error has closed the connection and said why
    default:
        showSendState(outbox);
        break;
    }
}

void MainWindow::showSendState(const pidtune::FrameOutbox &outbox)
{
    if (outbox.waiting() == 0) {
        statusBar()->showMessage(tr("已发送：%1").arg(pidtune::frameToHex(outbox.lastSent())),
                                 kSentMessageTimeoutMs);
    } else if (outbox.replaced() == 0) {
        showFailure(tr("设备未接收数据：%1 帧等待发送").arg(outbox.waiting()));
    } else {
        showFailure(tr("设备未接收数据：%1 帧等待发送，%2 帧已被同一标识符的新值替换")
                        .arg(outbox.waiting())
                        .arg(outbox.replaced()));
    }
}

void MainWindow::showFailure(const QString &message)
{
    statusBar()->showMessage(message);
}
