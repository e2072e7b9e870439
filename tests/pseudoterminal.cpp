// SPDX-License-Identifier: MIT
#include "pseudoterminal.h"

#include <QSocketNotifier>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#if defined(Q_OS_MACOS) || defined(Q_OS_BSD4)
#include <util.h>
#else
#include <pty.h>
#endif
#define PIDTUNE_HAVE_PTY 1
#endif

PseudoTerminal::PseudoTerminal()
{
#ifdef PIDTUNE_HAVE_PTY
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        failure = QStringLiteral("openpty failed: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        master = slave = -1;
        return;
    }
    path = QString::fromLocal8Bit(name);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    // A program the test starts must not hold the device's end, or unplugging would not hang up.
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    readNotifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
    connect(readNotifier.get(), &QSocketNotifier::activated, this, &PseudoTerminal::readMaster);
    writeNotifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Write);
    writeNotifier->setEnabled(false);
    connect(writeNotifier.get(), &QSocketNotifier::activated, this, &PseudoTerminal::writeMaster);
#else
    failure = QStringLiteral("this platform has no pseudo-terminals");
#endif
}

PseudoTerminal::~PseudoTerminal()
{
    unplug();
}

QByteArray PseudoTerminal::takeReceived()
{
    if (readNotifier && readNotifier->isEnabled())
        readMaster();
    QByteArray bytes;
    bytes.swap(input);
    return bytes;
}

void PseudoTerminal::send(const QByteArray &bytes)
{
    output.append(bytes);
    writeMaster();
}

qint64 PseudoTerminal::stopReading()
{
    qint64 filled = 0;
#ifdef PIDTUNE_HAVE_PTY
    readNotifier->setEnabled(false);
    // A descriptor of our own on the slave, non-blocking, so that filling stops at "full".
    const int writer = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    const QByteArray filler(512, '\0');
    // The kernel moves bytes on towards the master in the background and so makes room again
    // for a moment after "full": fill until the line has stayed full for a while.
    pollfd writable {writer, POLLOUT, 0};
    do { // a pseudo-terminal refuses a write that does not fit whole: end with single bytes
        for (const std::size_t size : {std::size_t(512), std::size_t(1)}) {
            ssize_t n = 0;
            while ((n = ::write(writer, filler.constData(), size)) > 0)
                filled += n;
        }
    } while (writer >= 0 && ::poll(&writable, 1, 100) > 0);
    if (writer >= 0)
        ::close(writer);
#endif
    return filled;
}

void PseudoTerminal::resumeReading()
{
    readNotifier->setEnabled(true);
    readMaster();
}

bool PseudoTerminal::lineSettings(termios *settings) const
{
#ifdef PIDTUNE_HAVE_PTY
    return slave >= 0 && ::tcgetattr(slave, settings) == 0;
#else
    Q_UNUSED(settings);
    return false;
#endif
}

void PseudoTerminal::unplug()
{
#ifdef PIDTUNE_HAVE_PTY
    readNotifier.reset();
    writeNotifier.reset();
    for (int *descriptor : {&master, &slave}) {
        if (*descriptor >= 0)
            ::close(*descriptor);
        *descriptor = -1;
    }
    output.clear();
#endif
}

void PseudoTerminal::readMaster()
{
#ifdef PIDTUNE_HAVE_PTY
    char chunk[65536];
    ssize_t n = 0;
    while (master >= 0 && (n = ::read(master, chunk, sizeof chunk)) > 0)
        input.append(chunk, int(n));
#endif
}

void PseudoTerminal::writeMaster()
{
#ifdef PIDTUNE_HAVE_PTY
    ssize_t n = 0;
    while (master >= 0 && !output.isEmpty()
           && (n = ::write(master, output.constData(), size_t(output.size()))) > 0)
        output.remove(0, int(n));
    if (writeNotifier)
        writeNotifier->setEnabled(!output.isEmpty());
#endif
}
