// SPDX-License-Identifier: MIT
#include "pseudoterminal.h"

#include "serial/parameterframe.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#if defined(__APPLE__) || defined(__FreeBSD__)
#include <util.h>
#else
#include <pty.h>
#endif
#include <termios.h>
#include <unistd.h>

QByteArray frameBytes(int identifier, float value)
{
    const pidtune::ParameterFrame frame = pidtune::encodeParameterFrame(identifier, value);
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
}

PseudoTerminal::PseudoTerminal()
{
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        failure = QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        master = slave = -1;
        return;
    }
    path = QString::fromLocal8Bit(name);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    // A program the test starts must not hold the device's end, or unplugging would not hang up.
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
}

const QByteArray &PseudoTerminal::received()
{
    char chunk[65536];
    ssize_t n = 0;
    while (reading && master >= 0 && (n = ::read(master, chunk, sizeof chunk)) > 0)
        input.append(chunk, int(n));
    return input;
}

QByteArray PseudoTerminal::takeReceived()
{
    QByteArray bytes = received();
    input.clear();
    return bytes;
}

void PseudoTerminal::send(const QByteArray &bytes)
{
    output += bytes;
    pendingToSend();
}

qint64 PseudoTerminal::pendingToSend()
{
    ssize_t n = 0;
    while (master >= 0 && !output.isEmpty()
           && (n = ::write(master, output.constData(), size_t(output.size()))) > 0)
        output.remove(0, int(n));
    return output.size();
}

qint64 PseudoTerminal::stopReading()
{
    reading = false;
    // Our own non-blocking descriptor on the slave, so that filling stops at "full".
    const int writer = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    const char filler[512] = {};
    qint64 filled = 0;
    pollfd writable {writer, POLLOUT, 0};
    // A pseudo-terminal refuses a write that does not fit whole, hence the single bytes at the
    // end; and the kernel makes room for a moment after "full" as it moves bytes on towards
    // the master, hence filling until the line has stayed full for a while: long enough for
    // the kernel's worker to have run on a machine busy with builds (100 ms was not, once).
    do {
        for (const std::size_t size : {sizeof filler, std::size_t(1)}) {
            for (ssize_t n = 0; (n = ::write(writer, filler, size)) > 0;)
                filled += n;
        }
    } while (writer >= 0 && ::poll(&writable, 1, 300) > 0);
    ::close(writer);
    return filled;
}

bool PseudoTerminal::lineSettings(termios *settings) const
{
    return slave >= 0 && ::tcgetattr(slave, settings) == 0;
}

void PseudoTerminal::unplug()
{
    for (int *descriptor : {&master, &slave}) {
        if (*descriptor >= 0)
            ::close(*descriptor);
        *descriptor = -1;
    }
    output.clear();
}
