// SPDX-License-Identifier: MIT
#include "ptyport.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
    notifier = new QSocketNotifier(master, QSocketNotifier::Read, this);
    notifier->setEnabled(reading);
    connect(notifier, &QSocketNotifier::activated, this, &PtyPort::read);
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
    return written;
}

void PtyPort::setReading(bool on)
{
    reading = on;
    if (notifier)
        notifier->setEnabled(on); // bytes that came meanwhile notify as soon as it is on
}

void PtyPort::read()
{
    char chunk[4096];
    while (reading && master >= 0) {
        const ssize_t n = ::read(master, chunk, sizeof chunk);
        if (n > 0) {
            emit received(QByteArray(chunk, int(n)));
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
    if (notifier) {
        notifier->setEnabled(false);
        notifier->deleteLater();
        notifier = nullptr;
    }
    for (int *descriptor : {&master, &slave}) {
        if (*descriptor >= 0)
            ::close(*descriptor);
        *descriptor = -1;
    }
}

} // namespace pidtune
