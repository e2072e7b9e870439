// SPDX-License-Identifier: MIT
#pragma once

#include <optional>

#include <QString>
#include <QStringList>

// What the tests need of the system they run on, each platform in its own file
// (testsystem_unix.cpp, testsystem_win.cpp).

// Names the system gives no serial port to: one that names nothing, and one that names a
// device which is no serial port.
QString noSuchPort();
QString notASerialPort();

// A file to which every write fails as on a full disk (/dev/full), or empty where the system has
// none.
QString fullDevice();

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

class PseudoTerminal;
class QProcess;
class QSerialPort;

// Makes the device's port held by another program, as far as a program opening it can tell:
// on Unix another port object opens it; Windows answers "access denied" for a held port, which
// Wine does not (it lets a second opening succeed), so there the device's terminal refuses.
bool holdElsewhere(QSerialPort &other, PseudoTerminal &device);

// Starts a program so that requestStop() can reach it: on Windows in a process group of its own,
// which console control events can be sent to.
void startStoppable(QProcess &process, const QString &program, const QStringList &arguments);

// Asks a started program to stop as a user would: SIGTERM on Unix, Ctrl-Break on Windows. A
// Windows program without a console (the window, which offscreen has no window to close either)
// cannot be asked and is ended.
void requestStop(QProcess &process);

// What a test cannot see on this system, and why (empty where it can): Windows' own ways, and
// what Wine, which runs the Windows tests on Linux, does not do as Windows does.
enum class Unseen {
    TryAgainOnAFullLine, // a write the line does not take fails with "try again" (EAGAIN)
    ReplacingAFrameInFlight, // a frame the driver took none of can still be replaced
    TerminalRestored, // closing a port restores the terminal settings it found
    HangUp, // the device going away fails the port's pending read
    ConsoleEvents, // Ctrl-C and Ctrl-Break reach the test program
    DeviceDrained, // the port keeps reading whatever the device sends
};
QString unseenHere(Unseen behaviour);

// Whether the requests have their default effect again (the program ends); nothing where the
// system cannot tell.
std::optional<bool> stopsHaveDefaultEffect();
