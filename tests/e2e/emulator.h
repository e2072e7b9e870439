// SPDX-License-Identifier: MIT
#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
// Qt 5's hook between fork and exec.
class ChildProcess : public QProcess
{
protected:
    void setupChildProcess() override;
};
#else
using ChildProcess = QProcess;
#endif

// An emulated board as a child process, with its UART on a pseudo-terminal that the emulator
// made and named on its standard output, where the firmware's log lines follow. The process
// ends with this object, whatever happened before (a failed check returns early), and with
// the test process itself if that is killed.
class Emulator
{
public:
    Emulator();
    ~Emulator();
    Emulator(const Emulator &) = delete;
    Emulator &operator=(const Emulator &) = delete;

    // Starts the program and waits for the terminal's name; false, with error(), if it fails.
    bool start(const QString &program, const QStringList &arguments);
    QString ptyPath() const { return path; }
    QString error() const { return failure; }
    // Since start() was called.
    qint64 elapsedMs() const { return clock.elapsed(); }

    // The next log line, with its line break, that does not begin with skipPrefix; an empty
    // string when none comes in time. The caller's event loop keeps running meanwhile.
    QByteArray nextLine(int timeoutMs, const QByteArray &skipPrefix = QByteArray());
    // The lines skipped so far.
    QList<QByteArray> skippedLines() const { return skipped; }

private:
    ChildProcess process;
    QElapsedTimer clock;
    QString path;
    QString failure;
    QList<QByteArray> skipped;
};
