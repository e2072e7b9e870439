// SPDX-License-Identifier: MIT
#include "framemonitor.h"

#include "frameformat.h"
#include "serial/seriallink.h"

#include <QTime>

FrameMonitor::FrameMonitor(std::FILE *output, QObject *parent) : QObject(parent), output(output)
{
    pidtune_frame_decoder_init(&decoder);
}

FrameMonitor::~FrameMonitor() = default;

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
