// SPDX-License-Identifier: MIT
#include "relaysource.h"

#include "serial/ptyport.h"
#include "serial/seriallink.h"

#include <algorithm>

namespace pidtune::scope {

std::unique_ptr<RelaySource> RelaySource::open(const QString &devicePort, qint32 baudRate,
                                               QString *error)
{
    auto device = std::make_unique<QSerialPort>(devicePort);
    const pidtune::OpenResult result = pidtune::openLine(*device, QIODevice::ReadWrite, baudRate);
    if (!result.ok()) {
        *error = result.reason;
        return nullptr;
    }
    auto forPidtune = std::make_unique<pidtune::PtyPort>();
    QString path;
    if (!forPidtune->open(&path, error))
        return nullptr;
    return std::unique_ptr<RelaySource>(
        new RelaySource(std::move(device), std::move(forPidtune), path));
}

RelaySource::RelaySource(std::unique_ptr<QSerialPort> device,
                         std::unique_ptr<pidtune::PtyPort> forPidtune, const QString &path)
    : port(std::move(device)), pty(std::move(forPidtune)), ptyPath(path)
{
    pidtune_frame_decoder_init(&decoder);
    connect(port.get(), &QSerialPort::readyRead, this, &RelaySource::readDevice);
    connect(port.get(), &QSerialPort::errorOccurred, this, &RelaySource::handleDeviceError);
    connect(port.get(), &QSerialPort::bytesWritten, this, &RelaySource::resumeRelay);
    connect(pty.get(), &pidtune::PtyPort::received, this, &RelaySource::relayToDevice);
    connect(pty.get(), &pidtune::PtyPort::failed, this, &RelaySource::ended);
    connect(pty.get(), &pidtune::PtyPort::writable, this, &RelaySource::writeToPidtune);
    connect(pty.get(), &pidtune::PtyPort::flushed, this, &RelaySource::flushedByPidtune);
}

RelaySource::~RelaySource() = default;

void RelaySource::readDevice()
{
    const QByteArray bytes = port->readAll();
    emit received(bytes);
    passOn(bytes);
}

void RelaySource::passOn(const QByteArray &bytes)
{
    qsizetype from = 0;
    if (dropping) {
        // Once there is room for more than a line again, from the next line's start on.
        const qsizetype end = lineStart ? -1 : bytes.indexOf('\n');
        if (forPidtune.size() > kHeldForPidtune / 2 || (!lineStart && end < 0)) {
            dropped += quint64(bytes.size());
            lineStart = bytes.endsWith('\n');
            return;
        }
        from = end + 1;
        dropped += quint64(from);
        dropping = false;
        emit lost(QStringLiteral("%1 bytes the device sent were dropped, whole lines, while "
                                 "pidtune did not read them")
                      .arg(dropped));
    }
    qsizetype fits = std::min<qsizetype>(bytes.size() - from, kHeldForPidtune - forPidtune.size());
    if (fits < bytes.size() - from) {
        // What fits up to a line's end goes; the rest of that line and those after are dropped.
        // A line already begun goes on to its end, past the room if need be: dropping its end
        // would join its start to a later line.
        const qsizetype lastEnd = fits > 0 ? bytes.lastIndexOf('\n', from + fits - 1) : -1;
        const qsizetype firstEnd = bytes.indexOf('\n', from);
        fits = lastEnd >= from ? lastEnd + 1 - from
            : midLine && forPidtune.size() < 2 * kHeldForPidtune
            ? (firstEnd < 0 ? bytes.size() : firstEnd + 1) - from
            : 0;
    }
    if (fits < bytes.size() - from) {
        dropping = true;
        dropped = quint64(bytes.size() - from - fits);
        lineStart = bytes.endsWith('\n');
        emit lost(QStringLiteral("pidtune is not reading what the device sends: more than %1 "
                                 "KiB wait, and the lines that follow are dropped")
                      .arg(kHeldForPidtune / 1024));
    }
    forPidtune.append(bytes.constData() + from, fits);
    if (fits > 0)
        midLine = bytes.constData()[from + fits - 1] != '\n';
    writeToPidtune();
}

void RelaySource::writeToPidtune()
{
    if (forPidtune.isEmpty())
        return;
    forPidtune.remove(0, pty->write(forPidtune.constData(), forPidtune.size()));
}

void RelaySource::flushedByPidtune(bool output, bool input)
{
    // Input: pidtune threw away what it had not read, as it does before it closes its port; what
    // waits here for it goes too, as on a line whose port was flushed.
    if (input)
        forPidtune.clear();
    if (!output)
        return;
    // Output: what pidtune wrote and the device has not taken yet never goes, as a flushed port
    // never sends it, here, in the device's driver, and what the pseudo-terminal still held for
    // this side; pidtune's next bytes are read again.
    // Frames told as sent that had not left the port are taken back.
    const qint64 left = handed - port->bytesToWrite();
    const int frames
        = int(frameEnds.end() - std::upper_bound(frameEnds.begin(), frameEnds.end(), left));
    frameEnds.clear();
    const qint64 unsent = port->bytesToWrite() + pty->discardUnread();
    port->clear(QSerialPort::Output);
    pty->setReading(true);
    if (frames > 0)
        emit parametersUnsent(frames);
    if (unsent > 0)
        emit lost(QStringLiteral("pidtune flushed its port: %1 bytes it had written, which the "
                                 "device had not taken yet, were dropped (%2 parameter frames "
                                 "among them were taken off the chart)")
                      .arg(unsent)
                      .arg(frames));
}

void RelaySource::handleDeviceError(QSerialPort::SerialPortError error)
{
    if (!pidtune::isLineLost(*port, error))
        return;
    const QString reason = QStringLiteral("%1: %2; the relay ended and closed pidtune's port")
                               .arg(port->portName(), port->errorString());
    pidtune::releaseLine(*port, this);
    pty->close(); // pidtune sees its line lost, as it would with the device itself
    emit ended(reason);
}

void RelaySource::relayToDevice(const QByteArray &bytes)
{
    // Handed to the driver now, not on a later pass of the event loop: a release must reach
    // the device as soon as it would without the relay.
    port->write(bytes);
    port->flush();
    // A device slower than pidtune: the rest waits in the port, and pidtune's next bytes wait
    // in its pseudo-terminal until the device has taken it, so that none is dropped and pidtune
    // sees a device that does not take its frames, which is what it is.
    if (port->isOpen() && port->bytesToWrite() > 0)
        pty->setReading(false);
    // Told once the frame is on its way, not before: the chart places it when it left.
    const qint64 sent = handed + bytes.size() - port->bytesToWrite();
    frameEnds.erase(frameEnds.begin(), std::upper_bound(frameEnds.begin(), frameEnds.end(), sent));
    for (const char byte : bytes) {
        ++handed;
        pidtune_frame frame;
        if (pidtune_frame_decoder_feed(&decoder, static_cast<std::uint8_t>(byte), &frame)) {
            if (handed > sent)
                frameEnds.push_back(handed);
            emit parameterSent(frame.identifier, frame.value);
        }
    }
}

void RelaySource::resumeRelay()
{
    if (port->bytesToWrite() == 0)
        pty->setReading(true);
}

std::unique_ptr<Source> openRelay(const QString &devicePort, qint32 baudRate, QString *error)
{
    return RelaySource::open(devicePort, baudRate, error);
}

} // namespace pidtune::scope
