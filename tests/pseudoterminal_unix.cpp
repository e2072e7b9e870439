// SPDX-License-Identifier: MIT
#include "pseudoterminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#if __has_include(<pty.h>)
#include <pty.h> // Linux
#else
#include <util.h> // macOS and the BSDs
#endif
#include <termios.h>
#include <unistd.h>

struct PseudoTerminal::Line
{
    int master = -1;
    int slave = -1; // held open so that the master never reads end-of-file between openings
    QByteArray output;
};

PseudoTerminal::PseudoTerminal() : line(std::make_unique<Line>())
{
    char name[256] = {};
    if (::openpty(&line->master, &line->slave, name, nullptr, nullptr) != 0) {
        failure = QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        line->master = line->slave = -1;
        return;
    }
    path = QString::fromLocal8Bit(name);
    ::fcntl(line->master, F_SETFL, ::fcntl(line->master, F_GETFL) | O_NONBLOCK);
    // A program the test starts must not hold the device's end, or unplugging would not hang up.
    ::fcntl(line->master, F_SETFD, FD_CLOEXEC);
    ::fcntl(line->slave, F_SETFD, FD_CLOEXEC);
}

PseudoTerminal::~PseudoTerminal()
{
    unplug();
}

bool PseudoTerminal::isValid() const
{
    return line->master >= 0;
}

int PseudoTerminal::masterDescriptor() const
{
    return line->master;
}

const QByteArray &PseudoTerminal::received()
{
    char chunk[65536];
    ssize_t n = 0;
    while (reading && line->master >= 0 && (n = ::read(line->master, chunk, sizeof chunk)) > 0)
        input.append(chunk, int(n));
    return input;
}

void PseudoTerminal::send(const QByteArray &bytes)
{
    line->output += bytes;
    pendingToSend();
}

qint64 PseudoTerminal::pendingToSend()
{
    QByteArray &output = line->output;
    ssize_t n = 0;
    while (line->master >= 0 && !output.isEmpty()
           && (n = ::write(line->master, output.constData(), size_t(output.size()))) > 0)
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

void PseudoTerminal::resumeReading()
{
    reading = true;
}

bool PseudoTerminal::lineSettings(LineSettings *settings) const
{
    termios t {};
    if (line->slave < 0 || ::tcgetattr(line->slave, &t) != 0)
        return false;
    const auto baud = [](speed_t speed) {
        for (const auto &[code, rate] : {std::pair<speed_t, int> {B9600, 9600},
                                         {B19200, 19200},
                                         {B38400, 38400},
                                         {B57600, 57600},
                                         {B115200, 115200},
                                         {B230400, 230400}}) {
            if (speed == code)
                return rate;
        }
        return 0;
    };
    settings->inputBaud = baud(cfgetispeed(&t));
    settings->outputBaud = baud(cfgetospeed(&t));
    const tcflag_t size = t.c_cflag & CSIZE;
    settings->dataBits = size == CS8 ? 8 : size == CS7 ? 7 : size == CS6 ? 6 : 5;
    settings->twoStopBits = t.c_cflag & CSTOPB;
    settings->parity = t.c_cflag & PARENB;
    settings->hardwareFlow = t.c_cflag & CRTSCTS;
    settings->softwareFlow = t.c_iflag & (IXON | IXOFF);
    settings->outputProcessing = t.c_oflag & OPOST;
    settings->canonical = t.c_lflag & ICANON;
    settings->echo = t.c_lflag & ECHO;
    settings->localFlags = quint32(t.c_lflag);
    settings->outputFlags = quint32(t.c_oflag);
    return true;
}

void PseudoTerminal::unplug()
{
    for (int *descriptor : {&line->master, &line->slave}) {
        if (*descriptor >= 0)
            ::close(*descriptor);
        *descriptor = -1;
    }
    line->output.clear();
}
