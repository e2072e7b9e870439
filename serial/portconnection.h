// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QStringList>

namespace pidtune {

class FrameOutbox;

// The serial ports to offer, in this order: those the system lists, then the devices named in
// PIDTUNE_EXTRA_PORTS (a pseudo-terminal, say), which the system does not count as serial ports.
QStringList availablePortNames();

// The operator's one serial connection: opening the chosen port with the line settings, closing
// it, draining what the device sends, sending parameter frames and noticing a lost line. It knows
// no widget; it says what the operator should read through status().
class PortConnection : public QObject
{
    Q_OBJECT

public:
    // Status texts that report success stay this long; failures stay until replaced.
    static constexpr int kSentMessageTimeoutMs = 5000;

    // `port` is the owner's pointer to the open port: null while closed, kept up to date here.
    explicit PortConnection(QSerialPort *&port, QObject *parent = nullptr);
    ~PortConnection() override;

    void open(const QString &name);
    void close();
    void drain();
    // The frame for this identifier byte and value, or a status saying why it was not sent.
    void send(int identifier, float value);

signals:
    void openChanged(bool open);
    // What the operator should read now; an empty text clears what was shown. A timeout of 0
    // keeps it until the next one.
    void status(const QString &text, int timeoutMs);
    // The device sent something.
    void dataArrived();

private:
    void handleError(QSerialPort *source, QSerialPort::SerialPortError error);
    int release();
    void showSendState(const FrameOutbox &outbox);
    void fail(const QString &text) { emit status(text, 0); }

    QSerialPort *&port;
};

} // namespace pidtune
