// SPDX-License-Identifier: MIT
#pragma once

#include "telemetry.h"

#include <QStringList>

namespace pidtune::scope {

// The buffer's lines, "time: name=value ..." (the time only when a field gives it), joined by
// " | ", and "too many" when series were refused.
inline QString render(const Telemetry &telemetry, bool timed)
{
    const SampleBuffer &buffer = telemetry.buffer();
    QStringList lines;
    for (qsizetype line = 0; line < buffer.size(); ++line) {
        QStringList values;
        if (timed)
            values << QString::number(buffer.time(line)) + QLatin1Char(':');
        for (int series = 0; series < buffer.seriesCount(); ++series) {
            if (!SampleBuffer::isAbsent(buffer.value(series, line)))
                values << buffer.name(series) + QLatin1Char('=')
                        + QString::number(buffer.value(series, line));
        }
        lines << values.join(QLatin1Char(' '));
    }
    if (telemetry.tooManySeries())
        lines << QStringLiteral("too many");
    return lines.join(QStringLiteral(" | "));
}

} // namespace pidtune::scope
