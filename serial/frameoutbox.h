// SPDX-License-Identifier: MIT
#pragma once

#include "serial/parameterframe.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

class QSerialPort;

namespace pidtune {

// Frames on their way out of the program. A frame counts as sent once the operating system has
// taken all of its bytes; until then it waits here. A device that stops reading must not make
// the program hold more and more frames nor throw them away unseen, and for tuning only the
// latest value of each parameter matters: so at most one frame per identifier waits, a newer
// one replacing the older in its place in the line, and the replacements are counted. Only a
// frame partly on the wire is beyond replacing: its remaining bytes must follow as they are.
class FrameOutbox : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Sent, // the operating system has all 9 bytes
        Waiting, // the device is not taking bytes; the frame goes out when it does
        LineLost, // the line failed while the frame was being written; the port's error says why
        Refused, // the port did not take the frame at all; reason() says why
    };

    // Belongs to the port and goes with it.
    explicit FrameOutbox(QSerialPort &port);

    Outcome send(const ParameterFrame &frame);

    // Frames not yet wholly taken by the operating system, the one partly written included.
    int waiting() const { return int(queue.size()) + (partial ? 1 : 0); }
    // Waiting frames that a newer frame of the same identifier replaced since the line was last
    // clear.
    int replaced() const { return replacedCount; }
    ParameterFrame lastSent() const { return last; }
    QString reason() const { return failure; }

signals:
    // Waiting frames went out; waiting() tells whether any are left.
    void progressed();

private:
    Outcome write(const ParameterFrame &frame);
    void resume();

    QSerialPort &port;
    std::deque<ParameterFrame> queue; // none of their bytes taken yet
    bool partial = false; // the rest of a frame is in the port's buffer
    ParameterFrame partialFrame {};
    QTimer retry; // tries the line again while frames wait with nothing in the port's buffer
    ParameterFrame last {};
    int replacedCount = 0;
    QString failure;
};

// The port's outbox, made on first use.
FrameOutbox &frameOutbox(QSerialPort &port);

} // namespace pidtune
