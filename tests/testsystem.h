// SPDX-License-Identifier: MIT
#pragma once

#include <optional>

#include <QString>

// What the tests need of the system they run on, each platform in its own file
// (testsystem_unix.cpp, testsystem_win.cpp).

// Names the system gives no serial port to: one that names nothing, and one that names a
// device which is no serial port.
QString noSuchPort();
QString notASerialPort();

// A process that runs and is not this one (the test's parent), for a lock file naming it.
qint64 otherLiveProcess();

// The system's ways of asking this test program to stop, as a user or the system would: on Unix
// the signals themselves, on Windows the console's control events.
enum class StopKind {
    Hangup, // SIGHUP; Ctrl-Break on Windows
    Terminate, // SIGTERM; Ctrl-C on Windows
};

// Sends the request to this process; returns the signal number pidtune::StopSignals reports
// for it.
int requestStop(StopKind kind = StopKind::Terminate);

// Whether the requests have their default effect again (the program ends); nothing where the
// system cannot tell.
std::optional<bool> stopsHaveDefaultEffect();
