// SPDX-License-Identifier: MIT
#include "frameoutbox.h"

#include <QSerialPort>

#include <algorithm>

namespace pidtune {

FrameOutbox::FrameOutbox(QSerialPort &port) : QObject(&port), port(port)
{
    connect(&port, &QSerialPort::bytesWritten, this, &FrameOutbox::resume);
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
    const qint64 size = qint64(frame.size());
    if (port.write(reinterpret_cast<const char *>(frame.data()), size) != size) {
        failure = port.errorString();
        return Outcome::Refused;
    }
    // Hand the bytes to the driver now rather than on a later pass of the event loop; this
    // never blocks, and it can find the line gone, in which case the port is closed by now.
    port.flush();
    if (!port.isOpen())
        return Outcome::LineLost;
    if (port.bytesToWrite() > 0) {
        inFlight = true;
        inFlightFrame = frame;
        return Outcome::Waiting;
    }
    last = frame;
    return Outcome::Sent;
}

void FrameOutbox::resume()
{
    if (port.bytesToWrite() > 0)
        return;
    if (inFlight) {
        inFlight = false;
        last = inFlightFrame;
    }
    while (!queue.empty()) {
        const ParameterFrame next = queue.front();
        queue.pop_front();
        if (write(next) != Outcome::Sent)
            break;
    }
    if (waiting() == 0)
        replacedCount = 0;
    emit progressed();
}

FrameOutbox &frameOutbox(QSerialPort &port)
{
    auto *outbox = port.findChild<FrameOutbox *>(QString(), Qt::FindDirectChildrenOnly);
    return outbox ? *outbox : *new FrameOutbox(port);
}

} // namespace pidtune
