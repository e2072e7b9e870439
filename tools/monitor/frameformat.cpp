// SPDX-License-Identifier: MIT
#include "frameformat.h"

#include <QByteArray>

#include <cmath>

namespace pidtune::monitor {

QString shortestText(float value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    if (value == 0) // QByteArray::number drops the sign of negative zero
        return std::signbit(value) ? QStringLiteral("-0") : QStringLiteral("0");
    // QByteArray::number and toDouble ignore the locale, unlike printf and strtof after
    // QCoreApplication has set it. The text is read back as a double and then rounded to float,
    // as a C compiler reads a float literal; 9 digits always round-trip.
    QByteArray text;
    for (int precision = 6; precision <= 9; ++precision) {
        text = QByteArray::number(double(value), 'g', precision);
        if (static_cast<float>(text.toDouble()) == value)
            break;
    }
    return QString::fromLatin1(text);
}

QString frameLine(const QTime &time, const pidtune_frame &frame, quint64 skipped)
{
    const QByteArray bytes(reinterpret_cast<const char *>(frame.bytes), PIDTUNE_FRAME_SIZE);
    return QStringLiteral("%1  id=%2  value=%3  %4  skipped=%5")
        .arg(time.toString(QStringLiteral("HH:mm:ss.zzz")))
        .arg(int(frame.identifier))
        .arg(shortestText(frame.value), QString::fromLatin1(bytes.toHex(' ').toUpper()))
        .arg(skipped);
}

QString summaryLine(quint64 frames, quint64 skipped, int unfinished)
{
    return QStringLiteral("summary: frames=%1 skipped=%2 unfinished=%3")
        .arg(frames)
        .arg(skipped)
        .arg(unfinished);
}

} // namespace pidtune::monitor
