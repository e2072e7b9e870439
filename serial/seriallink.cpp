// SPDX-License-Identifier: MIT
#include "seriallink.h"

#include "serial/frameoutbox.h"

#include <QFile>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <unistd.h>
#endif

namespace pidtune {

namespace {

// Qt reports a port held by another program (its lock file, or exclusive use) with the same
// error as a device this user may not open at all; the device's own permissions tell them apart.
bool mayOpenDevice(const QSerialPort &port)
{
#if defined(Q_OS_UNIX)
    // portName() is the device's path without its leading /dev/.
    const QString name = port.portName();
    const QString path = name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
#else
    // Windows answers "access denied" for a port in use; its ports have no per-user rights.
    Q_UNUSED(port);
    return true;
#endif
}

#if defined(Q_OS_UNIX)
// Serial terminals on Unix mark a port they hold with a lock file, LCK..<name>, that names their
// process in ASCII (the UUCP convention: "      1234\n"). Qt reads only its own form of lock
// and would take such a file for a stale one, replace it and delete it on closing while its
// holder still runs. So a lock naming a live process other than ours refuses the port, and is
// never touched. Returns the lock's path and holder, or an empty path.
std::pair<QString, qint64> liveLock(const QSerialPort &port)
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
            return {lock.fileName(), holder};
    }
    return {};
}
#endif

OpenFailure classify(const QSerialPort &port)
{
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return OpenFailure::NotFound;
    case QSerialPort::PermissionError:
        return mayOpenDevice(port) ? OpenFailure::InUse : OpenFailure::NoAccess;
    default:
        return OpenFailure::Other;
    }
}

} // namespace

bool applyLineSettings(QSerialPort &port, qint32 baudRate)
{
    return port.setBaudRate(baudRate, QSerialPort::AllDirections)
        && port.setDataBits(QSerialPort::Data8) && port.setStopBits(QSerialPort::OneStop)
        && port.setFlowControl(QSerialPort::NoFlowControl);
}

OpenResult openLine(QSerialPort &port, QIODevice::OpenMode mode, qint32 baudRate)
{
#if defined(Q_OS_UNIX)
    if (const auto [lock, holder] = liveLock(port); !lock.isEmpty())
        return {OpenFailure::InUse,
                QStringLiteral("locked by process %1 in %2").arg(holder).arg(lock)};
#endif
    if (!port.open(mode))
        return {classify(port), port.errorString()};
    if (!applyLineSettings(port, baudRate)) {
        OpenResult refused {OpenFailure::Other, port.errorString()};
        port.close();
        return refused;
    }
    return {};
}

bool isLineLost(const QSerialPort &port, QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError
        && error != QSerialPort::WriteError)
        return false; // parity, framing, timeouts and the like: the line still carries bytes
    if (!port.isOpen())
        return true;
#if defined(Q_OS_UNIX)
    // A full output buffer fails with EAGAIN, which Qt reports exactly like a vanished device;
    // only a hung-up or failed descriptor means the line is gone.
    pollfd descriptor {int(port.handle()), POLLIN | POLLOUT, 0};
    if (::poll(&descriptor, 1, 0) < 0)
        return true;
    return (descriptor.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    return error == QSerialPort::ResourceError;
#endif
}

int releaseLine(QSerialPort &port, const QObject *receiver)
{
    FrameOutbox *outbox = port.findChild<FrameOutbox *>(QString(), Qt::FindDirectChildrenOnly);
    const int waiting = outbox ? outbox->waiting() : 0;
    port.disconnect(receiver);
    if (outbox)
        outbox->disconnect(receiver);
    if (port.isOpen()) // a port the driver closed already has nothing to clear
        port.clear(QSerialPort::AllDirections);
    port.close();
    return waiting;
}

} // namespace pidtune
