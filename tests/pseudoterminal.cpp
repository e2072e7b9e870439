// SPDX-License-Identifier: MIT
#include "pseudoterminal.h"

#include <QSocketNotifier>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
    closeAll();
}

QByteArray PseudoTerminal::takeReceived()
{
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

void PseudoTerminal::stream(qint64 bytes)
{
    streamLeft += bytes;
    writeMaster();
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
    closeAll();
}

void PseudoTerminal::readMaster()
{
#ifdef PIDTUNE_HAVE_PTY
    if (master < 0)
        return;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(master, chunk, sizeof chunk);
        if (n <= 0)
            break;
        input.append(chunk, int(n));
    }
#endif
}

void PseudoTerminal::writeMaster()
{
#ifdef PIDTUNE_HAVE_PTY
    static const QByteArray filler(64 * 1024, '\xA5');
    while (master >= 0 && outputDone < output.size()) {
        const ssize_t n
            = ::write(master, output.constData() + outputDone, size_t(output.size() - outputDone));
        if (n <= 0)
            break;
        outputDone += n;
    }
    if (outputDone == output.size()) {
        output.clear();
        outputDone = 0;
        while (master >= 0 && streamLeft > 0) {
            const ssize_t n = ::write(master, filler.constData(),
                                      size_t(qMin<qint64>(streamLeft, filler.size())));
            if (n <= 0)
                break;
            streamLeft -= n;
        }
    }
    if (writeNotifier)
        writeNotifier->setEnabled(master >= 0 && pendingToSend() > 0);
#endif
}

void PseudoTerminal::closeAll()
{
#ifdef PIDTUNE_HAVE_PTY
    readNotifier.reset();
    writeNotifier.reset();
    if (master >= 0)
        ::close(master);
    if (slave >= 0)
        ::close(slave);
    master = slave = -1;
    output.clear();
    outputDone = streamLeft = 0;
#endif
}
