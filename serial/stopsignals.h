// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

#include <memory>

namespace pidtune {

// Turns the system's requests to stop a program into a Qt signal delivered by the event loop:
// on Unix the signals SIGINT, SIGTERM, SIGHUP and SIGQUIT (stopsignals_unix.cpp); on Windows
// Ctrl-C, Ctrl-Break and the console window closing, logging off or shutting down
// (stopsignals_win.cpp), reported as SIGINT, SIGBREAK and SIGTERM. Stopping through the event
// loop lets a program close its serial port properly, which gives the terminal its settings and
// removes the lock file; the default action would leave both behind. One instance per process.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);

    // Called first thing in main(): a stop request that comes before the instance exists waits
    // for it, instead of ending the program by the request's default action while it starts
    // (Unix: the signals are blocked until the instance handles them; Windows: nothing).
    static void holdUntilWatched();
    ~StopSignals() override;

    // The first stop signal received, or 0.
    int received() const { return first; }

    // Ends the process the way the given signal's default action would, so that a shell sees
    // "terminated by SIGTERM" (on Windows, the exit status of a program stopped by Ctrl-C)
    // rather than a normal exit. Returns only for signal 0.
    static void endAs(int signalNumber);

signals:
    void stopRequested(int signalNumber);

private:
    void deliver(int signalNumber);

    struct Watch; // the platform's own way of hearing the requests
    std::unique_ptr<Watch> watch;
    int first = 0;
};

} // namespace pidtune
