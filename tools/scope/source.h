// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <memory>

class QFile;
class QSocketNotifier;

namespace pidtune {
class PtyPort;
}

namespace pidtune::scope {

// Where the telemetry comes from: a serial port or pseudo-terminal, standard input, a CSV
// file replayed, or a device relayed to pidtune (relay.cpp). One of them per object.
class Source : public QObject
{
    Q_OBJECT

public:
    explicit Source(QObject *parent = nullptr);
    ~Source() override;

    // Read-only, 8N1 at the given speed, through the project's serial link.
    bool openPort(const QString &name, qint32 baudRate, QString *error);
    bool openStandardInput(QString *error);
    // The first row names the columns; the first column is each row's time in seconds
    // (*timeColumn receives its name), which paces the replay. The rows come as telemetry lines.
    bool openCsv(const QString &path, QByteArray *timeColumn, QString *error);
    // Holds the device's port read-write and makes a pseudo-terminal (*ptyPath) for pidtune:
    // every byte pidtune writes goes to the device, and the device's bytes come here and go
    // on to pidtune.
    bool openRelay(const QString &devicePort, qint32 baudRate, QString *ptyPath, QString *error);

signals:
    void received(const QByteArray &bytes);
    // Nothing more will come; the reason is for the operator.
    void ended(const QString &reason);

private:
    void readPort();
    void handlePortError(QSerialPort::SerialPortError error);
    void readStandardInput();
    void replay();
    void relayToDevice(const QByteArray &bytes);
    void resumeRelay();

    std::unique_ptr<QSerialPort> port;
    std::unique_ptr<QSocketNotifier> input;
    std::unique_ptr<QFile> csv;
    QList<QByteArray> columns;
    QByteArray row; // the next row, read ahead
    double firstRowTime = 0;
    QElapsedTimer replayClock;
    QTimer replayTimer;
    std::unique_ptr<pidtune::PtyPort> pty;
};

} // namespace pidtune::scope
