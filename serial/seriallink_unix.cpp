// SPDX-License-Identifier: MIT
#include "seriallink_p.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <unistd.h>

namespace pidtune::platform {

bool mayOpenDevice(const QSerialPort &port)
{
    // portName() is the device's path without its leading /dev/.
    const QString name = port.portName();
    const QString path = name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
}

// Serial terminals on Unix mark a port they hold with a lock file, LCK..<name>, that names their
// process in ASCII (the UUCP convention: "      1234\n"). Qt reads only its own form of lock
// and would take such a file for a stale one, replace it and delete it on closing while its
// holder still runs. So a lock naming a live process other than ours refuses the port, and is
// never touched.
OpenResult heldElsewhere(const QSerialPort &port)
{
    const QString name = QStringLiteral("LCK..")
        + QString(port.portName()).replace(QLatin1Char('/'), QLatin1Char('_'));
    // Where Qt and the terminals put their locks.
    for (const char *folder : {"/var/lock", "/run/lock", "/etc/locks", "/var/spool/locks",
                               "/var/spool/uucp", "/tmp", "/var/tmp", "/var/lock/lockdev"}) {
        QFile lock(QLatin1String(folder) + QLatin1Char('/') + name);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        bool ok = false;
        const qint64 holder = lock.readLine(64).trimmed().toLongLong(&ok);
        if (ok && holder > 0 && holder != ::getpid()
            && (::kill(pid_t(holder), 0) == 0 || errno == EPERM))
            return {OpenFailure::InUse,
                    QStringLiteral("locked by process %1 in %2").arg(holder).arg(lock.fileName())};
    }
    return {};
}

bool lineHungUp(const QSerialPort &port, QSerialPort::SerialPortError)
{
    // A full output buffer fails with EAGAIN, which Qt reports exactly like a vanished device;
    // only a hung-up or failed descriptor means the line is gone.
    pollfd descriptor {int(port.handle()), POLLIN | POLLOUT, 0};
    if (::poll(&descriptor, 1, 0) < 0)
        return true;
    return (descriptor.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

qint64 writeToDriver(QSerialPort &port, const char *data, qint64 size)
{
    const ssize_t taken = ::write(int(port.handle()), data, std::size_t(size));
    if (taken >= 0)
        return taken;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
}

void settleWrite(QSerialPort &)
{
    // flush() has written to the driver already; what it did not take is not coming soon.
}

} // namespace pidtune::platform
