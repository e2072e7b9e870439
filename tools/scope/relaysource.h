// SPDX-License-Identifier: MIT
#pragma once

#include "pidtune_frame.h"
#include "source.h"

#include <QSerialPort>

#include <vector>

namespace pidtune {
class PtyPort;
}

namespace pidtune::scope {

// The relay for boards with a single UART: pidtune's frames and the device's telemetry share the
// device's port, which the scope holds read-write. It makes a pseudo-terminal for pidtune: every
// byte pidtune writes goes to the device, and the device's bytes come here and go on to pidtune.
// As on a serial line, what pidtune does not read in time waits, up to kHeldForPidtune, and the
// lines that no longer fit are dropped, whole and counted; a port pidtune flushes drops what it
// had written and the device had not taken yet. pidtune's bytes are read as frames on their way,
// for the chart's markers. Only where the system has pseudo-terminals.
class RelaySource : public Source
{
    Q_OBJECT

public:
    static constexpr int kHeldForPidtune = 1 << 16; // 5.7 s of a 115200 line

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
    void passOn(const QByteArray &bytes);
    void writeToPidtune();
    void flushedByPidtune(bool output, bool input);

    std::unique_ptr<QSerialPort> port;
    std::unique_ptr<pidtune::PtyPort> pty;
    QString ptyPath;
    QByteArray forPidtune; // the device's bytes pidtune has not read yet
    bool dropping = false; // pidtune fell too far behind: lines are dropped
    bool lineStart = false; // the last byte dropped ended a line
    bool midLine = false; // the last byte passed on did not end a line
    quint64 dropped = 0; // bytes, since dropping last began
    pidtune_frame_decoder decoder;
    qint64 handed = 0; // bytes of pidtune's handed to the device's port
    std::vector<qint64> frameEnds; // of the frames told, in those bytes, while still unsent
};

} // namespace pidtune::scope
