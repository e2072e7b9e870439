// SPDX-License-Identifier: MIT
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
// Qt 5's hook between fork and exec.
class ChildProcess : public QProcess
{
public:
    std::function<void()> modifier;

protected:
    void setupChildProcess() override { modifier(); }
};
#else
using ChildProcess = QProcess;
#endif

// An emulated board as a child process, with its UART on a pseudo-terminal that the emulator
// made and named on its standard output, where the firmware's log lines follow. The log is a
// pipe of one page that nothing reads but nextLine(): a test that stops calling it has a log
// reader that has stopped. The emulator's process group ends with this object, whatever
// happened before (a failed check returns early), and with the test process if that is killed.
class Emulator
{
public:
    // nonBlockingLog: the emulator's writes to a full log fail instead of waiting, so that its
    // UART sees a full transmitter (QEMU); otherwise the emulator stops until it is read.
    explicit Emulator(bool nonBlockingLog);
    ~Emulator();
    Emulator(const Emulator &) = delete;
    Emulator &operator=(const Emulator &) = delete;

    // Starts the program and waits for the terminal's name; false, with error(), if it fails.
    bool start(const QString &program, const QStringList &arguments);
    QString ptyPath() const { return path; }
    QString error() const { return failure; }

    // The next log line, with its line break; an empty string when none comes in time. The
    // caller's event loop keeps running meanwhile.
    QByteArray nextLine(int timeoutMs);
    // The next line that is not one of the loop's own (a stream line "t=..." or a state line),
    // which are kept in loopLines, each with the number of reports returned before it.
    QByteArray nextReport(int timeoutMs);
    // The log holds as much as it can: a board writing to it now waits (or loses what it writes).
    bool logFull() const;
    struct LoopLine
    {
        int reports;
        QByteArray text;
    };
    QList<LoopLine> loopLines;

private:
    ChildProcess process;
    int log[2] = {-1, -1};
    QByteArray unread;
    int reports = 0;
    QString path;
    QString failure;
};
