// SPDX-License-Identifier: MIT
#include "telemetry.h"

#include "telemetryline.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace pidtune::scope {

Telemetry::Telemetry(const TelemetrySettings &settings, QObject *parent)
    : QObject(parent), settings(settings),
      line(size_t(SampleBuffer::kMaxSeries), SampleBuffer::absent())
{
    pending.reserve(kMaxLineLength);
    clock.start();
}

void Telemetry::setTimeField(const QByteArray &name, double secondsPerUnit)
{
    settings.timeField = name;
    settings.secondsPerUnit = secondsPerUnit;
}

void Telemetry::feed(const QByteArray &bytes)
{
    const char *begin = bytes.constData();
    const char *const end = begin + bytes.size();
    for (const char *at = begin; at < end; ++at) {
        if (*at != '\n' && *at != '\r')
            continue;
        // CR LF gives an empty line between the two, which addLine ignores.
        if (overlong || pending.size() + (at - begin) > kMaxLineLength) {
            ++received;
            ++skippedLines;
        } else if (!pending.isEmpty()) {
            pending.append(begin, int(at - begin));
            addLine(pending.constData(), pending.constData() + pending.size());
        } else {
            addLine(begin, at);
        }
        overlong = false;
        pending.clear();
        begin = at + 1;
    }
    // The start of the next line. One that has grown too long is counted when it ends.
    if (!overlong && pending.size() + (end - begin) > kMaxLineLength) {
        overlong = true;
        pending.clear();
    }
    if (!overlong)
        pending.append(begin, int(end - begin));
    if (appended) {
        appended = false;
        emit arrived();
    }
}

void Telemetry::finish(Cut why)
{
    feed(QByteArrayLiteral("\n"));
    report(steps.cut(why));
}

double Telemetry::unwrap(double time)
{
    // A millisecond (or microsecond) counter of 16 or 32 bits wraps to 0 every 65.5 s or 49.7
    // days: a count of whole units that drops from the top sixteenth of such a range to its
    // bottom sixteenth went on, it did not start again.
    if (time < lastTime && time >= 0 && time == std::floor(time)
        && lastTime == std::floor(lastTime)) {
        for (const double range : {65536.0, 4294967296.0}) {
            if (lastTime < range && lastTime >= range / 16 * 15 && time < range / 16) {
                wrapped += range;
                break;
            }
        }
    }
    lastTime = time;
    return time + wrapped;
}

void Telemetry::addLine(const char *begin, const char *end)
{
    if (begin == end)
        return;
    ++received;
    const auto isTime = [&](const char *name, int size) {
        return size == settings.timeField.size() && size > 0
            && std::memcmp(name, settings.timeField.constData(), size_t(size)) == 0;
    };
    double time = std::numeric_limits<double>::quiet_NaN();
    if (settings.timeField.isEmpty()) {
        time = double(clock.nsecsElapsed()) / 1e9;
    } else {
        // Found first, so that a line without it makes no series.
        forEachValue(begin, end, [&](const char *name, int size, int, double value) {
            if (isTime(name, size))
                time = value;
        });
        if (std::isfinite(time))
            time = unwrap(time) * settings.secondsPerUnit;
    }
    if (!std::isfinite(time)) {
        ++skippedLines;
        return;
    }
    int values = 0;
    forEachValue(begin, end, [&](const char *name, int size, int position, double value) {
        if (isTime(name, size))
            return;
        char number[16];
        if (size == 0) {
            name = number;
            size = int(std::to_chars(number, number + sizeof number, position).ptr - number);
        }
        const int index = series(name, size);
        if (index < 0)
            return;
        // Every NaN the same, so that no text can pass for the buffer's "absent".
        line[size_t(index)] = std::isnan(value) ? std::numeric_limits<double>::quiet_NaN() : value;
        ++values;
    });
    if (values > 0) {
        if (samples.size() > 0 && time < samples.time(samples.size() - 1)) {
            // Time went back: the device started again. Its new run starts a new plot.
            report(steps.cut(Cut::TimeBack));
            steps.reset();
            samples.clear();
            if (wrapped > 0) { // and its counter starts from nothing
                wrapped = 0;
                time = lastTime * settings.secondsPerUnit;
            }
        }
        samples.append(time, line.data());
        appended = true;
        const auto valueOf = [&](int index) {
            return index < 0 ? SampleBuffer::absent() : line[size_t(index)];
        };
        report(steps.add(time, valueOf(setpointSeries), valueOf(responseSeries)));
    } else {
        ++skippedLines;
    }
    std::fill(line.begin(), line.end(), SampleBuffer::absent());
}

int Telemetry::series(const char *name, int size)
{
    for (size_t index = 0; index < names.size(); ++index) {
        if (names[index].size() == size
            && std::memcmp(names[index].constData(), name, size_t(size)) == 0)
            return int(index);
    }
    const QByteArray newName(name, size);
    const int index = samples.addSeries(QString::fromUtf8(newName));
    if (index < 0) {
        seriesRefused = true;
        return -1;
    }
    names.push_back(newName);
    if (newName == settings.setpoint)
        setpointSeries = index;
    if (newName == settings.response)
        responseSeries = index;
    return index;
}

void Telemetry::report(const std::optional<StepMetrics> &step)
{
    if (step)
        emit stepMeasured(*step);
}

} // namespace pidtune::scope
