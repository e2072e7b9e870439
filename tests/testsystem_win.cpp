// SPDX-License-Identifier: MIT
#include "testsystem.h"

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
