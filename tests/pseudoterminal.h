// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;
struct termios;

// A pseudo-terminal pair in which the test plays the device: the program under test opens the
// slave by its path, and the test reads what was written from the master, answers through it,
// stops reading to play a device that takes nothing, or closes it to unplug the device.
// Qt Core only, so that tests without a window use it too.
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
    int masterDescriptor() const { return master; }

    // Everything written to the line so far, as the device received it.
    const QByteArray &received() const { return input; }
    QByteArray takeReceived();

    // Bytes from the device to the program, written as fast as the line takes them.
    void send(const QByteArray &bytes);
    qint64 pendingToSend() const { return output.size(); }

    // The device stops taking bytes, and the line towards it is filled up, so that the next
    // write from the program cannot go out. Returns the filler's size, which the device then
    // receives first once it reads again.
    qint64 stopReading();
    void resumeReading();

    // The line settings currently on the terminal (false if unreadable).
    bool lineSettings(termios *settings) const;

    // The device goes away, as when a USB adapter is pulled.
    void unplug();

private:
    void readMaster();
    void writeMaster();

    int master = -1;
    int slave = -1; // held open so that the master never reads end-of-file between openings
    QString path;
    QString failure;
    QByteArray input;
    QByteArray output;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
};
