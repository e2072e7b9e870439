// SPDX-License-Identifier: MIT
#include "telemetry.h"

#include "telemetryline.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace pidtune::scope {

namespace {

// How a series' name is shown and saved: as its UTF-8 text, where it is that; otherwise every
// byte that is not part of a valid UTF-8 sequence as \xHH, so that two names that differ only in
// such bytes do not look alike and become one when a saved CSV is replayed.
QString displayName(const QByteArray &name)
{
    QString shown;
    const auto *bytes = reinterpret_cast<const unsigned char *>(name.constData());
    const int size = int(name.size());
    for (int at = 0; at < size;) {
        const unsigned char lead = bytes[at];
        const int length = lead < 0x80     ? 1
            : lead >= 0xc2 && lead <= 0xdf ? 2
            : lead >= 0xe0 && lead <= 0xef ? 3
            : lead >= 0xf0 && lead <= 0xf4 ? 4
                                           : 0;
        bool valid = length > 0 && at + length <= size;
        for (int i = 1; valid && i < length; ++i)
            valid = (bytes[at + i] & 0xc0) == 0x80;
        if (valid && length >= 3) { // no overlong form, surrogate or code point past U+10FFFF
            const unsigned char second = bytes[at + 1];
            valid = !(lead == 0xe0 && second < 0xa0) && !(lead == 0xed && second >= 0xa0)
                && !(lead == 0xf0 && second < 0x90) && !(lead == 0xf4 && second >= 0x90);
        }
        if (valid) {
            shown += QString::fromUtf8(name.constData() + at, length);
            at += length;
        } else {
            shown += QStringLiteral("\\x")
                + QString::number(lead, 16).toUpper().rightJustified(2, QLatin1Char('0'));
            ++at;
        }
    }
    return shown;
}

} // namespace

Telemetry::Telemetry(const TelemetrySettings &settings, QObject *parent)
    : QObject(parent), settings(settings), loop(settings.tuning),
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
    announceParameters();
}

double Telemetry::now() const
{
    return settings.timeField.isEmpty() ? double(clock.nsecsElapsed()) / 1e9
                                        : std::numeric_limits<double>::quiet_NaN();
}

void Telemetry::parameterSent(int id, float value)
{
    params.sent(now(), id, value);
    announceParameters();
}

void Telemetry::parametersUnsent(int count)
{
    params.unsent(count);
    announceParameters();
}

void Telemetry::parameterRecorded(const ParameterChange &change, const QString &name)
{
    params.nameIfUnknown(change.id, name);
    params.recorded(change);
    announceParameters();
}

void Telemetry::announceParameters()
{
    if (params.revision() == paramsShown)
        return;
    paramsShown = params.revision();
    emit parametersChanged();
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
    if (params.readReport(begin, end, now()))
        return;
    // A value's name: its label, or for a bare number its place among the line's bare numbers,
    // so that --time 1 or --setpoint 2 can name one.
    char number[16];
    const auto named = [&number](const char *&name, int &size, int position) {
        if (size == 0) {
            name = number;
            size = int(std::to_chars(number, number + sizeof number, position).ptr - number);
        }
    };
    const auto is = [](const char *name, int size, const QByteArray &wanted) {
        return size == wanted.size() && size > 0
            && std::memcmp(name, wanted.constData(), size_t(size)) == 0;
    };
    double time = std::numeric_limits<double>::quiet_NaN();
    if (settings.timeField.isEmpty()) {
        time = double(clock.nsecsElapsed()) / 1e9;
    } else {
        // Found first, so that a line without it makes no series.
        forEachValue(begin, end, [&](const char *name, int size, int position, double value) {
            named(name, size, position);
            if (is(name, size, settings.timeField))
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
    // Measured by their names, also when more series than the chart holds came before them.
    double setpoint = SampleBuffer::absent(), response = SampleBuffer::absent(),
           control = SampleBuffer::absent();
    forEachValue(begin, end, [&](const char *name, int size, int position, double value) {
        named(name, size, position);
        if (is(name, size, settings.timeField))
            return;
        if (is(name, size, settings.setpoint))
            setpoint = value;
        if (is(name, size, settings.response))
            response = value;
        if (is(name, size, settings.control))
            control = value;
        const int index = series(name, size);
        if (index < 0)
            return;
        // Every NaN the same, so that no text can pass for the buffer's "absent".
        line[size_t(index)] = std::isnan(value) ? std::numeric_limits<double>::quiet_NaN() : value;
        ++values;
    });
    const bool measured = !SampleBuffer::isAbsent(setpoint) || !SampleBuffer::isAbsent(response)
        || !SampleBuffer::isAbsent(control);
    if (values == 0 && !measured) {
        ++skippedLines;
        return;
    }
    if (std::isfinite(lastLineTime) && time < lastLineTime) {
        // Time went back: the device started again. Its new run starts a new plot.
        report(steps.cut(Cut::TimeBack));
        steps.reset();
        loop.reset();
        samples.clear();
        params.clear(); // and its parameters are its defaults again
        if (wrapped > 0) { // and its counter starts from nothing
            wrapped = 0;
            time = lastTime * settings.secondsPerUnit;
        }
    }
    lastLineTime = time;
    params.lineAt(time);
    if (values > 0) {
        samples.append(time, line.data());
        appended = true;
        std::fill(line.begin(), line.end(), SampleBuffer::absent());
    }
    // Open, the loop's steps are of its input.
    report(steps.add(time, settings.tuning.openLoop ? control : setpoint, response));
    if (const std::optional<RelayTuning> relay = loop.addLine(time, setpoint, response, control))
        emit relayMeasured(*relay);
}

int Telemetry::series(const char *name, int size)
{
    for (size_t index = 0; index < names.size(); ++index) {
        if (names[index].size() == size
            && std::memcmp(names[index].constData(), name, size_t(size)) == 0)
            return int(index);
    }
    const QByteArray newName(name, size);
    const int index = samples.addSeries(displayName(newName));
    if (index < 0) {
        seriesRefused = true;
        return -1;
    }
    names.push_back(newName);
    return index;
}

void Telemetry::report(const std::optional<StepMetrics> &step)
{
    if (!step)
        return;
    StepMetrics measured = *step;
    measured.params = params.inForce(measured.time);
    emit stepMeasured(measured);
    if (const std::optional<Prediction> predicted = loop.check(measured))
        emit stepPredicted(measured, *predicted, loop.chosenRule());
    emit stepModelled(loop.stepEnded(measured));
}

} // namespace pidtune::scope
