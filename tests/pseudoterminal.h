// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;
struct termios;

// A pseudo-terminal pair in which the test plays the device: the window opens the slave by its
// path, and the test reads what was written from the master, answers through it, or closes it
// to unplug the device.
class PseudoTerminal : public QObject
{
    Q_OBJECT

public:
    PseudoTerminal();
    ~PseudoTerminal() override;

    // False where the platform has no pseudo-terminals; reason() then says why.
    bool isValid() const { return master >= 0; }
    QString reason() const { return failure; }
    QString slavePath() const { return path; }
    // For callers that read the device side themselves, without the event loop.
    int masterDescriptor() const { return master; }

    // Everything the window has written so far, as the device received it.
    const QByteArray &received() const { return input; }
    QByteArray takeReceived();

    // Bytes from the device to the window, written as fast as the line takes them.
    void send(const QByteArray &bytes);
    // Sends this many bytes of filler without holding them in memory, for floods.
    void stream(qint64 bytes);
    qint64 pendingToSend() const { return output.size() - outputDone + streamLeft; }

    // The line settings the window's port put on the terminal (false if unreadable).
    bool lineSettings(termios *settings) const;

    // The device goes away, as when a USB adapter is pulled.
    void unplug();

private:
    void readMaster();
    void writeMaster();
    void closeAll();

    int master = -1;
    int slave = -1; // held open so that the master never reads end-of-file between tests
    QString path;
    QString failure;
    QByteArray input;
    QByteArray output;
    qint64 outputDone = 0;
    qint64 streamLeft = 0;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
};
