// SPDX-License-Identifier: MIT
#pragma once

#include "source.h"

#include <QSerialPort>

namespace pidtune {
class PtyPort;
}

namespace pidtune::scope {

// The relay for boards with a single UART: pidtune's frames and the device's telemetry share the
// device's port, which the scope holds read-write. It makes a pseudo-terminal for pidtune: every
// byte pidtune writes goes to the device, and the device's bytes come here and go on to pidtune.
// Only where the system has pseudo-terminals.
class RelaySource : public Source
{
    Q_OBJECT

public:
    static std::unique_ptr<RelaySource> open(const QString &devicePort, qint32 baudRate,
                                             QString *error);
    ~RelaySource() override;

    QString relayPath() const override { return ptyPath; }

private:
    RelaySource(std::unique_ptr<QSerialPort> device, std::unique_ptr<pidtune::PtyPort> pty,
                const QString &ptyPath);
    void readDevice();
    void handleDeviceError(QSerialPort::SerialPortError error);
    void relayToDevice(const QByteArray &bytes);
    void resumeRelay();

    std::unique_ptr<QSerialPort> port;
    std::unique_ptr<pidtune::PtyPort> pty;
    QString ptyPath;
};

} // namespace pidtune::scope
