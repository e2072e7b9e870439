// SPDX-License-Identifier: MIT
#include "ptyport.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#if __has_include(<pty.h>)
#include <pty.h> // Linux
#else
#include <util.h> // macOS and the BSDs
#endif

namespace pidtune {

PtyPort::PtyPort(QObject *parent) : QObject(parent) { }

PtyPort::~PtyPort()
{
    close();
}

bool PtyPort::open(QString *path, QString *error)
{
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        *error = QStringLiteral("cannot create a pseudo-terminal: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        master = slave = -1;
        return false;
    }
    // No byte may be translated (0A to 0D 0A) or echoed.
    termios settings {};
    if (::tcgetattr(slave, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::cfsetispeed(&settings, B115200);
        ::cfsetospeed(&settings, B115200);
        settings.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
        settings.c_cflag |= CS8 | CLOCAL | CREAD;
        ::tcsetattr(slave, TCSANOW, &settings);
    }
    // The slave stays open here too: otherwise the master reads end-of-file (EIO) whenever the
    // other program closes its port, and a reopened port would find this side gone.
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    // Packet mode: each read starts with a status byte, which also tells when the other program
    // flushes its port; such news is there to read even while the data waits.
    int packet = 1;
    ::ioctl(master, TIOCPKT, &packet);
    notifier = new QSocketNotifier(master, QSocketNotifier::Read, this);
    notifier->setEnabled(reading);
    connect(notifier, &QSocketNotifier::activated, this, &PtyPort::read);
    statusNotifier = new QSocketNotifier(master, QSocketNotifier::Exception, this);
    connect(statusNotifier, &QSocketNotifier::activated, this, &PtyPort::readStatus);
    writeNotifier = new QSocketNotifier(master, QSocketNotifier::Write, this);
    writeNotifier->setEnabled(false);
    connect(writeNotifier, &QSocketNotifier::activated, this, [this] {
        writeNotifier->setEnabled(false);
        emit writable();
    });
    *path = QString::fromLocal8Bit(name);
    return true;
}

qint64 PtyPort::write(const char *data, qint64 size)
{
    qint64 written = 0;
    while (master >= 0 && written < size) {
        const ssize_t n = ::write(master, data + written, size_t(size - written));
        if (n > 0)
            written += n;
        else if (n < 0 && errno != EINTR)
            break;
    }
    if (written < size && writeNotifier)
        writeNotifier->setEnabled(true);
    return written;
}

qint64 PtyPort::discardUnread()
{
    int waiting = 0;
    if (master < 0 || ::ioctl(master, FIONREAD, &waiting) != 0)
        waiting = 0;
    if (master >= 0)
        ::tcflush(master, TCIFLUSH);
    return waiting;
}

void PtyPort::setReading(bool on)
{
    reading = on;
    if (notifier)
        notifier->setEnabled(on); // bytes that came meanwhile notify as soon as it is on
}

void PtyPort::readStatus()
{
    // One byte: the status if there is news, else only the mark that data follows, which takes
    // none of the data.
    unsigned char status = 0;
    if (master >= 0 && ::read(master, &status, 1) == 1 && status != TIOCPKT_DATA)
        emit flushed(status & TIOCPKT_FLUSHWRITE, status & TIOCPKT_FLUSHREAD);
}

void PtyPort::read()
{
    char chunk[4097];
    while (reading && master >= 0) {
        const ssize_t n = ::read(master, chunk, sizeof chunk);
        if (n > 0) {
            if (chunk[0] != TIOCPKT_DATA)
                emit flushed(chunk[0] & TIOCPKT_FLUSHWRITE, chunk[0] & TIOCPKT_FLUSHREAD);
            else if (n > 1)
                emit received(QByteArray(chunk + 1, int(n - 1)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        const QString reason = n == 0 ? QStringLiteral("pseudo-terminal closed")
                                      : QStringLiteral("pseudo-terminal: %1")
                                            .arg(QString::fromLocal8Bit(std::strerror(errno)));
        close();
        emit failed(reason);
        return;
    }
}

void PtyPort::close()
{
    for (QSocketNotifier **watch : {&notifier, &writeNotifier, &statusNotifier}) {
        if (*watch) {
            (*watch)->setEnabled(false);
            (*watch)->deleteLater();
            *watch = nullptr;
        }
    }
    for (int *descriptor : {&master, &slave}) {
        if (*descriptor >= 0)
            ::close(*descriptor);
        *descriptor = -1;
    }
}

} // namespace pidtune
