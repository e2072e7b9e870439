// SPDX-License-Identifier: MIT
#include "testsystem.h"

#include "serial/seriallink.h"

#include <QProcess>

#include <csignal>
#include <unistd.h>

QString noSuchPort()
{
    return QStringLiteral("/dev/pidtune-none");
}

QString notASerialPort()
{
    return QStringLiteral("/dev/null");
}

QString fullDevice()
{
    return QStringLiteral("/dev/full");
}

void startStoppable(QProcess &process, const QString &program, const QStringList &arguments)
{
    process.start(program, arguments);
}

void requestStop(QProcess &process)
{
    ::kill(pid_t(process.processId()), SIGTERM);
}

qint64 otherLiveProcess()
{
    return ::getppid();
}

int requestStop(StopKind kind)
{
    const int signalNumber = kind == StopKind::Hangup ? SIGHUP : SIGTERM;
    std::raise(signalNumber);
    return signalNumber;
}

std::optional<bool> stopsHaveDefaultEffect()
{
    struct sigaction handling = {};
    return ::sigaction(SIGTERM, nullptr, &handling) == 0 && handling.sa_handler == SIG_DFL;
}

QString unseenHere(Unseen)
{
    return {}; // the tests' pseudo-terminals behave as serial ports do here
}

bool holdElsewhere(QSerialPort &other, PseudoTerminal &)
{
    return pidtune::openLine(other, QIODevice::ReadOnly).ok();
}
