// SPDX-License-Identifier: MIT
#include "decimation.h"

#include <algorithm>
#include <cmath>

namespace pidtune::scope {

void decimate(const SampleBuffer &buffer, int series, qsizetype first, double from, double to,
              int columns, QVector<QPointF> &points, Extent &extent)
{
    points.clear();
    const double width = (to - from) / columns;
    const double gap = std::numeric_limits<double>::quiet_NaN();
    int column = -1;
    double low = 0, high = 0;
    bool lowFirst = true;
    const auto close = [&] {
        if (column < 0)
            return;
        const double x = from + (column + 0.5) * width;
        points.append(QPointF(x, lowFirst ? low : high));
        if (low != high)
            points.append(QPointF(x, lowFirst ? high : low));
        column = -1;
    };
    for (qsizetype line = first; line < buffer.size(); ++line) {
        const double value = buffer.value(series, line);
        if (SampleBuffer::isAbsent(value))
            continue;
        if (!std::isfinite(value)) {
            close();
            if (!points.isEmpty() && !std::isnan(points.constLast().y()))
                points.append(QPointF(buffer.time(line), gap));
            continue;
        }
        extent.low = std::min(extent.low, value);
        extent.high = std::max(extent.high, value);
        // Clamped as a double: a window narrower than the times' precision (t in the 1e17s)
        // gives a zero width, and converting an infinite or NaN column to int is undefined.
        const double position = (buffer.time(line) - from) / width;
        const int at = position >= 1 ? int(std::min(position, double(columns - 1))) : 0;
        if (at != column) {
            close();
            column = at;
            low = high = value;
        } else if (value < low) {
            low = value;
            lowFirst = false;
        } else if (value > high) {
            high = value;
            lowFirst = true;
        }
    }
    close();
}

} // namespace pidtune::scope
