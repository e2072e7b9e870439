// SPDX-License-Identifier: MIT
#include "framemonitor.h"

#include "frameformat.h"
#include "serial/seriallink.h"

#include <QSocketNotifier>
#include <QTime>

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

FrameMonitor::FrameMonitor(std::FILE *output, QObject *parent) : QObject(parent), output(output)
{
    pidtune_frame_decoder_init(&decoder);
}

FrameMonitor::~FrameMonitor()
{
    closePseudoTerminal();
}

bool FrameMonitor::watchSerialPort(const QString &name, QString *error)
{
    auto opened = std::make_unique<QSerialPort>(name);
    // The window's line settings: a different speed would show noise, not frames.
    const pidtune::OpenResult result = pidtune::openLine(*opened, QIODevice::ReadOnly);
    if (!result.ok()) {
        *error = result.reason;
        return false;
    }
    port = std::move(opened);
    connect(port.get(), &QSerialPort::readyRead, this, &FrameMonitor::readPort);
    connect(port.get(), &QSerialPort::errorOccurred, this, &FrameMonitor::handlePortError);
    return true;
}

void FrameMonitor::readPort()
{
    feed(port->readAll());
}

void FrameMonitor::handlePortError(QSerialPort::SerialPortError error)
{
    if (!pidtune::isLineLost(*port, error))
        return;
    const QString reason = QStringLiteral("%1: %2").arg(port->portName(), port->errorString());
    pidtune::releaseLine(*port, this);
    emit failed(reason);
}

bool FrameMonitor::watchPseudoTerminal(QString *path, QString *error)
{
#ifdef PIDTUNE_HAVE_PTY
    char name[256] = {};
    if (::openpty(&ptyMaster, &ptySlave, name, nullptr, nullptr) != 0) {
        *error = QStringLiteral("cannot create a pseudo-terminal: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        ptyMaster = ptySlave = -1;
        return false;
    }
    // Raw 115200 8N1, as pidtune sets its port, so that a tool opening the terminal without
    // setting it up sees the same line. No byte may be translated (0A to 0D 0A) or echoed.
    termios settings {};
    if (::tcgetattr(ptySlave, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::cfsetispeed(&settings, B115200);
        ::cfsetospeed(&settings, B115200);
        settings.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
        settings.c_cflag |= CS8 | CLOCAL | CREAD;
        ::tcsetattr(ptySlave, TCSANOW, &settings);
    }
    // The slave stays open here too: otherwise the master reads end-of-file (EIO) whenever
    // pidtune closes its port, and a reopened port would find the monitor gone.
    ::fcntl(ptyMaster, F_SETFL, ::fcntl(ptyMaster, F_GETFL) | O_NONBLOCK);
    ::fcntl(ptyMaster, F_SETFD, FD_CLOEXEC);
    ::fcntl(ptySlave, F_SETFD, FD_CLOEXEC);
    ptyNotifier = std::make_unique<QSocketNotifier>(ptyMaster, QSocketNotifier::Read);
    connect(ptyNotifier.get(), &QSocketNotifier::activated, this,
            &FrameMonitor::readPseudoTerminal);
    *path = QString::fromLocal8Bit(name);
    return true;
#else
    Q_UNUSED(path);
    *error = QStringLiteral("this platform has no pseudo-terminals; name a serial port instead");
    return false;
#endif
}

void FrameMonitor::readPseudoTerminal()
{
#ifdef PIDTUNE_HAVE_PTY
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(ptyMaster, chunk, sizeof chunk);
        if (n > 0) {
            feed(QByteArray(chunk, int(n)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        const QString reason = n == 0 ? QStringLiteral("pseudo-terminal closed")
                                      : QStringLiteral("pseudo-terminal: %1")
                                            .arg(QString::fromLocal8Bit(std::strerror(errno)));
        closePseudoTerminal();
        emit failed(reason);
        return;
    }
#endif
}

void FrameMonitor::closePseudoTerminal()
{
#ifdef PIDTUNE_HAVE_PTY
    ptyNotifier.reset();
    if (ptyMaster >= 0)
        ::close(ptyMaster);
    if (ptySlave >= 0)
        ::close(ptySlave);
    ptyMaster = ptySlave = -1;
#endif
}

void FrameMonitor::feed(const QByteArray &bytes)
{
    const QTime now = QTime::currentTime();
    for (const char byte : bytes) {
        pidtune_frame frame;
        if (!pidtune_frame_decoder_feed(&decoder, static_cast<std::uint8_t>(byte), &frame))
            continue;
        // Unsigned arithmetic, so a wrapped 32-bit count still gives the right difference.
        const quint32 noise = decoder.skipped - skippedSeen;
        skippedSeen = decoder.skipped;
        skipped += noise;
        ++frames;
        print(pidtune::monitor::frameLine(now, frame, noise));
    }
}

void FrameMonitor::printSummary()
{
    const quint64 total = skipped + quint32(decoder.skipped - skippedSeen);
    print(pidtune::monitor::summaryLine(frames, total, decoder.length));
}

void FrameMonitor::print(const QString &line)
{
    // The error indicator stays set: once the output has failed, and that was reported, nothing
    // more is written.
    if (std::ferror(output))
        return;
    // Flushed line by line so that a pipe (grep, tee, a test) sees each frame as it arrives.
    const QByteArray text = line.toLocal8Bit() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), output);
    if (std::fflush(output) != 0 || std::ferror(output)) {
        // A full disk or a closed output: watching on would only lose the frames unnoticed.
        emit failed(QStringLiteral("cannot write the output: %1").arg(qt_error_string()));
    }
}
