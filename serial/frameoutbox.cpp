// SPDX-License-Identifier: MIT
#include "frameoutbox.h"

#include "serial/seriallink_p.h"

#include <QSerialPort>

#include <algorithm>

namespace pidtune {

namespace {

// How soon a line that took nothing is tried again: far below what an operator notices, far
// above what would keep a processor busy.
constexpr int kRetryMs = 10;

} // namespace

FrameOutbox::FrameOutbox(QSerialPort &port) : QObject(&port), port(port)
{
    connect(&port, &QSerialPort::bytesWritten, this, &FrameOutbox::resume);
    retry.setInterval(kRetryMs);
    connect(&retry, &QTimer::timeout, this, &FrameOutbox::resume);
    connect(&port, &QIODevice::aboutToClose, &retry, &QTimer::stop);
}

FrameOutbox::Outcome FrameOutbox::send(const ParameterFrame &frame)
{
    if (waiting() == 0)
        return write(frame);
    // The identifier byte says which parameter a frame sets.
    const auto sameParameter = std::find_if(
        queue.begin(), queue.end(), [&](const auto &queued) { return queued[3] == frame[3]; });
    if (sameParameter != queue.end()) {
        *sameParameter = frame;
        ++replacedCount;
    } else {
        queue.push_back(frame);
    }
    return Outcome::Waiting;
}

FrameOutbox::Outcome FrameOutbox::write(const ParameterFrame &frame)
{
    const auto *bytes = reinterpret_cast<const char *>(frame.data());
    qint64 size = qint64(frame.size());
    // Straight to the driver where the system allows it: what it does not take stays ours, so a
    // frame of which it took nothing can still be replaced by a newer value. Once in the port's
    // buffer it could not.
    if (port.isOpen() && port.bytesToWrite() == 0) {
        const qint64 taken = platform::writeToDriver(port, bytes, size);
        if (taken == size) {
            last = frame;
            return Outcome::Sent;
        }
        if (taken == 0) {
            queue.push_front(frame);
            retry.start();
            return Outcome::Waiting;
        }
        if (taken > 0) {
            partial = true;
            partialFrame = frame;
            bytes += taken;
            size -= taken;
        }
        // Otherwise the port writes it and reports what is wrong with the line its own way.
    }
    if (port.write(bytes, size) != size) {
        failure = port.errorString();
        return Outcome::Refused;
    }
    // Hand the bytes to the driver now rather than on a later pass of the event loop; this
    // never blocks, and it can find the line gone, in which case the port is closed by now.
    port.flush();
    platform::settleWrite(port);
    if (!port.isOpen())
        return Outcome::LineLost;
    if (port.bytesToWrite() > 0) {
        partial = true;
        partialFrame = frame;
        return Outcome::Waiting;
    }
    partial = false;
    last = frame;
    return Outcome::Sent;
}

void FrameOutbox::resume()
{
    if (port.bytesToWrite() > 0)
        return;
    const int before = waiting();
    if (partial) {
        partial = false;
        last = partialFrame;
    }
    retry.stop();
    while (!queue.empty() && !retry.isActive()) {
        const ParameterFrame next = queue.front();
        queue.pop_front();
        if (write(next) != Outcome::Sent)
            break;
    }
    if (waiting() == 0)
        replacedCount = 0;
    if (waiting() != before)
        emit progressed();
}

FrameOutbox &frameOutbox(QSerialPort &port)
{
    auto *outbox = port.findChild<FrameOutbox *>(QString(), Qt::FindDirectChildrenOnly);
    return outbox ? *outbox : *new FrameOutbox(port);
}

} // namespace pidtune
