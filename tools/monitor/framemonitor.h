// SPDX-License-Identifier: MIT
#pragma once

#include "pidtune_frame.h"

#include <QObject>
#include <QSerialPort>
#include <QString>

#include <cstdio>
#include <memory>

// Watches one serial line: bytes from a serial port or from the master side of a pseudo-terminal
// go through the device decoder, and every frame becomes one line on the output.
class FrameMonitor : public QObject
{
    Q_OBJECT

public:
    explicit FrameMonitor(std::FILE *output, QObject *parent = nullptr);
    ~FrameMonitor() override;

    // Opens the port with the window's line settings. On failure, *error says why.
    bool watchSerialPort(const QString &name, QString *error);
    // Creates a pseudo-terminal whose other end (*path) pidtune can open like a serial port
    // (framemonitor_pty.cpp); where the system has none, says so (framemonitor_nopty.cpp).
    bool watchPseudoTerminal(QString *path, QString *error);

    // Decodes the bytes and prints a line for each frame they complete.
    void feed(const QByteArray &bytes);
    void printSummary();

signals:
    // The line stopped working (the adapter was unplugged, say); nothing more will arrive.
    void failed(const QString &reason);

private:
    void readPort();
    void handlePortError(QSerialPort::SerialPortError error);
    void print(const QString &line);

    std::FILE *output;
    pidtune_frame_decoder decoder;
    // The decoder's counters are 32-bit, as suits firmware; these keep the totals for long runs.
    quint64 frames = 0;
    quint64 skipped = 0;
    quint32 skippedSeen = 0; // decoder.skipped when the totals were last brought up to date

    std::unique_ptr<QSerialPort> port;
    std::unique_ptr<QObject> pty; // a pidtune::PtyPort
};
