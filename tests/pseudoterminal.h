// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// The 9 bytes a device receives for this parameter.
QByteArray frameBytes(int identifier, float value);

// A serial line's settings as the device's end of it sees them.
struct LineSettings
{
    int inputBaud = 0;
    int outputBaud = 0;
    int dataBits = 0;
    bool twoStopBits = false;
    bool parity = false;
    bool hardwareFlow = false;
    bool softwareFlow = false;
    // A terminal's processing, which a serial line must not do: output translation (0A to
    // 0D 0A), line editing, echo.
    bool outputProcessing = false;
    bool canonical = false;
    bool echo = false;
    // The terminal's local and output flags whole, to compare before and after a program.
    quint32 localFlags = 0;
    quint32 outputFlags = 0;

    // Raw 8N1 without flow control at this speed both ways: what pidtune sets.
    bool isRaw8N1(int baud) const
    {
        return inputBaud == baud && outputBaud == baud && dataBits == 8 && !twoStopBits && !parity
            && !hardwareFlow && !softwareFlow && !outputProcessing && !canonical && !echo;
    }
};

// A pseudo-terminal pair in which the test plays the device: the program under test opens the
// slave by its path, the test reads what arrived from the master, answers through it, stops
// reading to play a device that takes nothing, or closes it to unplug the device. Reading and
// writing happen whenever the test looks, so QTRY_ loops keep the line moving. Qt Core only.
// On Unix the test holds the pair itself (pseudoterminal_unix.cpp); a test built for Windows and
// run under Wine asks pidtune-ptyhost on the Linux side for one, linked as a COM port in the Wine
// prefix (pseudoterminal_win.cpp, tests/wine/).
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const;
    QString reason() const { return failure; }
    // The name the program under test opens: /dev/pts/3, or COM10 under Wine.
    QString slavePath() const { return path; }
    // Unix only: the benchmark reads the line itself.
    int masterDescriptor() const;

    // Everything that arrived so far (while the device reads), and the same, emptied.
    const QByteArray &received();
    QByteArray takeReceived();

    // Bytes from the device; what the line does not take at once waits for pendingToSend().
    void send(const QByteArray &bytes);
    qint64 pendingToSend();

    // The device stops taking bytes, and the line towards it is filled, so that the next write
    // of the program cannot go out. Returns the filler's size, which arrives first on resuming.
    qint64 stopReading();
    void resumeReading();

    // The line settings currently on the terminal (false if unreadable).
    bool lineSettings(LineSettings *settings) const;

    // The device goes away, as when a USB adapter is pulled.
    void unplug();

    // Under Wine only: from now on the port answers "access denied" to whoever opens it, as a
    // port that another program holds does on Windows.
    void refuseOpenings();

private:
    struct Line;
    std::unique_ptr<Line> line;
    bool reading = true;
    QString path;
    QString failure;
    mutable QByteArray input; // the device's input, also what came while asking the host
};
