// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;
class QTimer;

namespace pidtune {

// Turns the signals that ask a program to stop (SIGINT, SIGTERM, SIGHUP, SIGQUIT; SIGINT and
// SIGTERM on Windows) into a Qt signal delivered by the event loop. Stopping through the event
// loop lets a program close its serial port properly, which gives the terminal its settings and
// removes the lock file; the default action would leave both behind. One instance per process.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

    // The first stop signal received, or 0.
    int received() const { return first; }

    // Ends the process the way the given signal's default action would, so that a shell sees
    // "terminated by SIGTERM" rather than a normal exit. Returns only for signal 0.
    static void endAs(int signalNumber);

signals:
    void stopRequested(int signalNumber);

private:
    void drain();

    int first = 0;
    std::unique_ptr<QSocketNotifier> notifier;
    std::unique_ptr<QTimer> poll;
};

} // namespace pidtune
