// SPDX-License-Identifier: MIT
#include "testsystem.h"

#include "pseudoterminal.h"

#include <QProcess>

#include <csignal>

#include <windows.h>

QString noSuchPort()
{
    return QStringLiteral("COM200");
}

QString notASerialPort()
{
    return QStringLiteral("NUL");
}

QString fullDevice()
{
    return {};
}

void startStoppable(QProcess &process, const QString &program, const QStringList &arguments)
{
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *arguments) {
        arguments->flags |= CREATE_NEW_PROCESS_GROUP;
    });
    process.start(program, arguments);
}

void requestStop(QProcess &process)
{
    if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, DWORD(process.processId())))
        process.kill();
}

qint64 otherLiveProcess()
{
    return 0; // used only where ports have lock files
}

int requestStop(StopKind kind)
{
    // To every process of this console: the test's own, and none other that ctest starts.
    if (kind == StopKind::Hangup) {
        GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0);
        return SIGBREAK;
    }
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    return SIGINT;
}

std::optional<bool> stopsHaveDefaultEffect()
{
    return std::nullopt; // Windows does not say which console handlers are installed
}

QString unseenHere(Unseen behaviour)
{
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    switch (behaviour) {
    case Unseen::TryAgainOnAFullLine:
        return QStringLiteral("Windows: a write the line does not take stays pending, "
                              "without a \"try again\" error");
    case Unseen::ReplacingAFrameInFlight:
        return QStringLiteral("Windows: Qt's overlapped write holds a frame once started, "
                              "so it waits and cannot be replaced by a newer value");
    case Unseen::TerminalRestored:
        return QStringLiteral("Windows: a COM port keeps the settings its last program set; "
                              "there is no terminal state to restore");
    case Unseen::HangUp:
        return wine ? QStringLiteral("Wine: its serial driver keeps waiting on a pseudo-terminal "
                                     "that was hung up until the program writes to it, where "
                                     "Windows fails the pending read of an unplugged adapter "
                                     "(a resource error)")
                    : QString();
    case Unseen::ConsoleEvents:
        return wine ? QStringLiteral("Wine: the test runs without a console (ctest's pipes), so "
                                     "Ctrl-C and Ctrl-Break cannot be sent to it")
                    : QString();
    case Unseen::DeviceDrained:
        return wine ? QStringLiteral("Wine: its serial driver stops reading a pseudo-terminal "
                                     "whose other end writes faster than the port reads")
                    : QString();
    }
    return {};
}

bool holdElsewhere(QSerialPort &, PseudoTerminal &device)
{
    device.refuseOpenings();
    return true;
}
