// SPDX-License-Identifier: MIT
#include "emulator.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>

#include <csignal>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {
constexpr int kLogSize = 4096; // a page, the least a pipe holds
} // namespace

Emulator::Emulator(bool nonBlockingLog)
{
    // A failure here shows as no terminal named by start().
    ::pipe2(log, O_CLOEXEC);
    ::fcntl(log[0], F_SETFL, O_NONBLOCK);
    ::fcntl(log[0], F_SETPIPE_SZ, kLogSize);
    if (nonBlockingLog)
        ::fcntl(log[1], F_SETFL, O_NONBLOCK);
    // In the child, between fork and exec: the log pipe as standard output, a process group of
    // its own, and a test killed by its time-out takes the emulator along.
    const int logOut = log[1];
    const auto modifier = [logOut] {
        ::dup2(logOut, STDOUT_FILENO);
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    };
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    process.setChildProcessModifier(modifier);
#else
    process.modifier = modifier;
#endif
}

Emulator::~Emulator()
{
    // Nothing in an emulator is worth a clean stop.
    if (process.state() != QProcess::NotRunning) {
        ::kill(-pid_t(process.processId()), SIGKILL);
        process.waitForFinished(3000);
    }
    ::close(log[0]);
    ::close(log[1]);
}

bool Emulator::start(const QString &program, const QStringList &arguments)
{
    process.start(program, arguments);
    // QEMU: "char device redirected to /dev/pts/3 (label serial0)"; pidtune-simavr-pty: "pty: ..."
    static const QRegularExpression name(QStringLiteral("(?:^pty: |redirected to )(/dev/\\S+)"));
    const QByteArray line = process.waitForStarted(5000) ? nextLine(10000) : QByteArray();
    const QRegularExpressionMatch match = name.match(QString::fromLocal8Bit(line));
    if (!match.hasMatch()) {
        failure = QStringLiteral("no terminal named in \"%1\" (%2); standard error: %3")
                      .arg(QString::fromLocal8Bit(line).trimmed(), process.errorString(),
                           QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    path = match.captured(1);
    return true;
}

QByteArray Emulator::nextLine(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const int end = unread.indexOf('\n') + 1;
        if (end > 0)
            return std::exchange(unread, unread.mid(end)).left(end);
        char chunk[4096];
        const ssize_t got = ::read(log[0], chunk, sizeof chunk);
        if (got > 0) {
            unread.append(chunk, int(got));
            continue;
        }
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return QByteArray();
        // Short turns, so that the window can still write what its port has buffered.
        QCoreApplication::processEvents();
        pollfd readable = {log[0], POLLIN, 0};
        ::poll(&readable, 1, int(qMin<qint64>(20, deadline.remainingTime())));
    }
}

bool Emulator::logFull() const
{
    // Within a line of full: a line is written whole or waits.
    int queued = 0;
    return ::ioctl(log[0], FIONREAD, &queued) == 0 && queued > kLogSize - 128;
}

QByteArray Emulator::nextReport(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QByteArray line;
    while ((line = nextLine(int(deadline.remainingTime()))).startsWith("t=")
           || line.startsWith("state "))
        loopLines.append({reports, line});
    ++reports;
    return line;
}
