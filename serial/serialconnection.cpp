// SPDX-License-Identifier: MIT
// The window's one serial connection: listing ports, opening and closing, draining what the
// device sends, writing frames, and noticing when the device goes away.
#include "app/mainwindow.h"
#include "serial/linesettings.h"
#include "serial/parameterframe.h"
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

    auto port = std::make_unique<QSerialPort>();
    port->setPortName(name);
    // A port that took only some of the line settings would put wrong bytes on the wire, so any
    // refusal counts as a failed opening.
    const bool configured = port->open(QIODevice::ReadWrite) && pidtune::applyLineSettings(*port);
    if (!configured) {
        showFailure(tr("无法打开串口 %1：%2").arg(name, port->errorString()));
        return; // the unique_ptr closes and destroys the port
    }

    connect(port.get(), &QSerialPort::readyRead, this, &MainWindow::Read_Data);
    connect(port.get(), &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { handlePortError(error); });
    serialPort = port.release();
    ui->openButton->setText(tr("关闭串口"));
    statusBar()->clearMessage();
}

void MainWindow::closePort()
{
    releasePort();
    statusBar()->clearMessage();
}

void MainWindow::handlePortError(QSerialPort::SerialPortError error)
{
    // On Linux a vanished device raises ReadError/ResourceError again and again in a busy loop
    // for as long as the port stays open, so these errors end the connection at once.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError
        && error != QSerialPort::WriteError)
        return;
    if (!serialPort)
        return;
    const QString reason = serialPort->errorString();
    releasePort();
    showFailure(tr("串口已断开：%1").arg(reason));
}

void MainWindow::releasePort()
{
    QSerialPort *port = std::exchange(serialPort, nullptr);
    ui->openButton->setText(tr("打开串口"));
    if (!port)
        return;
    // Nothing of this port may reach the window any more, even the errors that closing a dead
    // device can raise. Deletion is deferred because we may be inside one of its signals.
    port->disconnect(this);
    port->clear(QSerialPort::AllDirections);
    port->close();
    port->deleteLater();
}

void MainWindow::sendFrame(int identifier, float value)
{
    if (!serialPort) {
        showFailure(tr("串口未打开，参数未发送"));
        return;
    }
    const pidtune::ParameterFrame frame = pidtune::encodeParameterFrame(identifier, value);
    const qint64 written
        = serialPort->write(reinterpret_cast<const char *>(frame.data()), qint64(frame.size()));
    if (written != qint64(frame.size())) {
        showFailure(tr("发送失败：%1").arg(serialPort->errorString()));
        return;
    }
    // Hand the bytes to the driver now instead of on the next pass of the event loop; this
    // never blocks.
    serialPort->flush();
    if (!serialPort)
        return; // the flush found the device gone and the window has said so
    statusBar()->showMessage(tr("已发送：%1").arg(pidtune::frameToHex(frame)),
                             kSentMessageTimeoutMs);
}

void MainWindow::showFailure(const QString &message)
{
    statusBar()->showMessage(message);
}
