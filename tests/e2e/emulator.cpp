// SPDX-License-Identifier: MIT
#include "emulator.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>

#if defined(Q_OS_LINUX)
#include <csignal>
#include <sys/prctl.h>
#endif

namespace {

// In the child, between fork and exec: a test killed by its time-out takes the emulator along.
void dieWithParent()
{
#if defined(Q_OS_LINUX)
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
}

} // namespace

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
void ChildProcess::setupChildProcess()
{
    dieWithParent();
}
#endif

Emulator::Emulator()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    process.setChildProcessModifier(dieWithParent);
#endif
}

Emulator::~Emulator()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

bool Emulator::start(const QString &program, const QStringList &arguments)
{
    clock.start();
    process.start(program, arguments);
    if (!process.waitForStarted(5000)) {
        failure = process.errorString();
        return false;
    }
    // QEMU: "char device redirected to /dev/pts/3 (label serial0)"; pidtune-simavr-pty: "pty: ..."
    static const QRegularExpression name(QStringLiteral("(?:^pty: |redirected to )(/dev/\\S+)"));
    const QByteArray line = nextLine(10000);
    const QRegularExpressionMatch match = name.match(QString::fromLocal8Bit(line));
    if (!match.hasMatch()) {
        failure = QStringLiteral("no terminal named in \"%1\"; standard error: %2")
                      .arg(QString::fromLocal8Bit(line).trimmed(),
                           QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    path = match.captured(1);
    return true;
}

QByteArray Emulator::nextLine(int timeoutMs, const QByteArray &skipPrefix)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        while (process.canReadLine()) {
            const QByteArray line = process.readLine();
            if (skipPrefix.isEmpty() || !line.startsWith(skipPrefix))
                return line;
            skipped << line;
        }
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return QByteArray();
        // Short turns, so that the window can still write what its port has buffered.
        QCoreApplication::processEvents();
        process.waitForReadyRead(int(qMin<qint64>(20, deadline.remainingTime())));
    }
}
