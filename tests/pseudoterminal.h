// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

struct termios;

// The 9 bytes a device receives for this parameter.
QByteArray frameBytes(int identifier, float value);

// A pseudo-terminal pair in which the test plays the device: the program under test opens the
// slave by its path, the test reads what arrived from the master, answers through it, stops
// reading to play a device that takes nothing, or closes it to unplug the device. Reading and
// writing happen whenever the test looks, so QTRY_ loops keep the line moving. Qt Core only.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal() { unplug(); }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return master >= 0; }
    QString reason() const { return failure; }
    QString slavePath() const { return path; }
    int masterDescriptor() const { return master; }

    // Everything that arrived so far (while the device reads), and the same, emptied.
    const QByteArray &received();
    QByteArray takeReceived();

    // Bytes from the device; what the line does not take at once waits for pendingToSend().
    void send(const QByteArray &bytes);
    qint64 pendingToSend();

    // The device stops taking bytes, and the line towards it is filled, so that the next write
    // of the program cannot go out. Returns the filler's size, which arrives first on resuming.
    qint64 stopReading();
    void resumeReading() { reading = true; }

    // The line settings currently on the terminal (false if unreadable).
    bool lineSettings(termios *settings) const;

    // The device goes away, as when a USB adapter is pulled.
    void unplug();

private:
    int master = -1;
    int slave = -1; // held open so that the master never reads end-of-file between openings
    bool reading = true;
    QString path;
    QString failure;
    QByteArray input;
    QByteArray output;
};
