// SPDX-License-Identifier: MIT
#include "telemetrystream.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace liveplot {

namespace {

constexpr double kPi = 3.14159265358979323846;

// A number in [0, 1) from the line and the series, the same on every run.
double hashed(qint64 line, int series, std::uint32_t salt)
{
    std::uint32_t h
        = std::uint32_t(line) * 2654435761u ^ (std::uint32_t(series) + salt) * 0x9e3779b9u;
    h ^= h >> 16;
    h *= 0x85ebca6bu;
    h ^= h >> 13;
    return double(h >> 8) / double(1u << 24);
}

} // namespace

Stream::Stream(const Workload &workload, bool labelled, bool markers, double seconds)
    : load(workload), markers(markers)
{
    const qint64 count = qint64(seconds * load.linesPerSecond);
    ends.reserve(size_t(count));
    all.reserve(int(std::min<qint64>(count * (12 + 10 * load.series), 1 << 30)));
    const double scale = markers ? kMarkedScale : 1;
    char text[32];
    for (qint64 n = 0; n < count; ++n) {
        const double t = timeOf(n);
        if (labelled) {
            const int size = load.linesPerSecond > 1000
                ? std::snprintf(text, sizeof text, "t=%.3f", t * 1000)
                : std::snprintf(text, sizeof text, "t=%lld", qint64(std::llround(t * 1000)));
            all.append(text, size);
        } else {
            all.append(text, std::snprintf(text, sizeof text, "%.5f", t));
        }
        for (int series = 0; series < load.series; ++series) {
            const int turn = series / 4;
            double value = 0;
            switch (series % 4) {
            case 0:
                value = std::sin(2 * kPi * (0.2 + 0.05 * turn) * t);
                break;
            case 1:
                value = 0.5 * std::sin(2 * kPi * (1.3 + 0.1 * turn) * t) + 0.2;
                break;
            case 2: // the first one as it always was: its period 2,000 lines
                value = turn == 0 && load.linesPerSecond == 1000
                    ? double(n % 2000) / 1000 - 1
                    : std::fmod(t + 0.3 * turn, 2.0) - 1;
                break;
            default:
                value = turn == 0
                    ? 0.3 * double((std::uint32_t(n) * 2654435761u) >> 22) / 1024 - 0.6
                    : 0.3 * hashed(n, series, 1) - 0.6;
            }
            value += load.noise * 2 * (2 * hashed(n, series, 7) - 1);
            value *= scale;
            if (series == 0 && markers && isMarker(n))
                value = kMarkerValue;
            const QByteArray label = labelled ? name(series) + '=' : QByteArray();
            all += ' ';
            all += label;
            all.append(text, std::snprintf(text, sizeof text, "%.4f", value));
        }
        all += '\n';
        ends.push_back(all.size());
    }
}

qint64 Stream::markerEvery() const
{
    return qint64(std::llround(kMarkerSeconds * load.linesPerSecond));
}

bool Stream::isMarker(qint64 line) const
{
    return line > 0 && line % markerEvery() == 0;
}

QByteArray Stream::name(int series)
{
    // Not "t": that is the time.
    return series < 4 ? QByteArray(1, char('a' + series)) : "s" + QByteArray::number(series);
}

} // namespace liveplot
