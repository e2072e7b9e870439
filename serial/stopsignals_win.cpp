// SPDX-License-Identifier: MIT
#include "stopsignals.h"

#include <QMetaObject>

#include <csignal>
#include <mutex>

#include <windows.h>

namespace pidtune {

// The console's control events arrive on a thread of their own that the system starts; they
// are handed to the event loop like the signals on Unix.
struct StopSignals::Watch
{
    static std::mutex guard;
    static StopSignals *instance; // null while nobody listens
    static HANDLE released; // set once the instance is gone, with the ports it closed

    static int signalFor(DWORD event)
    {
        switch (event) {
        case CTRL_C_EVENT:
            return SIGINT;
        case CTRL_BREAK_EVENT:
            return SIGBREAK;
        default: // the console window closed, the user logging off, the system shutting down
            return SIGTERM;
        }
    }

    static BOOL WINAPI onConsoleEvent(DWORD event)
    {
        {
            std::lock_guard<std::mutex> lock(guard);
            if (!instance)
                return FALSE;
            StopSignals *const listener = instance;
            const int signalNumber = signalFor(event);
            QMetaObject::invokeMethod(
                listener, [listener, signalNumber] { listener->deliver(signalNumber); },
                Qt::QueuedConnection);
        }
        if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
            return TRUE;
        // For the others the system ends the process as soon as this returns: wait until the
        // program has stopped and closed its ports, within the few seconds the system allows.
        WaitForSingleObject(released, 4500);
        return TRUE;
    }
};

std::mutex StopSignals::Watch::guard;
StopSignals *StopSignals::Watch::instance = nullptr;
HANDLE StopSignals::Watch::released = nullptr;

void StopSignals::holdUntilWatched() { }

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
    std::lock_guard<std::mutex> lock(Watch::guard);
    Watch::instance = this;
    if (!Watch::released)
        Watch::released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(Watch::released);
    SetConsoleCtrlHandler(&Watch::onConsoleEvent, TRUE);
}

StopSignals::~StopSignals()
{
    std::lock_guard<std::mutex> lock(Watch::guard);
    Watch::instance = nullptr;
    SetConsoleCtrlHandler(&Watch::onConsoleEvent, FALSE);
    SetEvent(Watch::released);
}

void StopSignals::endAs(int signalNumber)
{
    if (signalNumber == 0)
        return;
    // What cmd and PowerShell report for a program that Ctrl-C stopped.
    ExitProcess(DWORD(STATUS_CONTROL_C_EXIT));
}

} // namespace pidtune
