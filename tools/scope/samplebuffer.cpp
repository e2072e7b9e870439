// SPDX-License-Identifier: MIT
#include "samplebuffer.h"

#include "parameterlog.h"

#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace pidtune::scope {

namespace {

// A quiet NaN with a payload of its own, which no arithmetic and no parsed "nan" produces.
constexpr std::uint64_t kAbsentBits = 0x7ff8'0000'0000'0a5eULL;

} // namespace

double SampleBuffer::absent()
{
    double value;
    std::memcpy(&value, &kAbsentBits, sizeof value);
    return value;
}

bool SampleBuffer::isAbsent(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits == kAbsentBits;
}

SampleBuffer::SampleBuffer(int rawBits, int historyBits) : rawMask((quint64(1) << rawBits) - 1)
{
    for (int level = 0; level < kLevels; ++level)
        levels[size_t(level)].mask
            = (quint64(1) << std::max(1, historyBits - kLevelBits[size_t(level)])) - 1;
}

int SampleBuffer::addSeries(const QString &name)
{
    if (seriesCount() == kMaxSeries)
        return -1;
    names.push_back(name);
    latestValues.push_back(absent());
    values.emplace_back(size_t(rawMask + 1), absent());
    for (Level &level : levels) {
        const size_t runs = size_t(level.mask + 1);
        level.lows.emplace_back(runs, MinMax().low);
        level.highs.emplace_back(runs, MinMax().high);
        level.flags.emplace_back(runs, quint8(0));
    }
    if (times.empty()) {
        times.resize(size_t(rawMask + 1));
        runTimes.resize(size_t(levels[0].mask + 1));
    }
    return seriesCount() - 1;
}

void SampleBuffer::append(double time, const double *lineValues)
{
    const quint64 line = total;
    const size_t at = index(line);
    times[at] = time;
    if (line == 0)
        firstTime = time;
    for (size_t series = 0; series < values.size(); ++series) {
        values[series][at] = lineValues[series];
        if (!isAbsent(lineValues[series]))
            latestValues[series] = lineValues[series];
    }
    for (int l = 0; l < kLevels; ++l) {
        Level &level = levels[size_t(l)];
        const quint64 run = line >> kLevelBits[size_t(l)];
        const size_t slot = runIndex(l, run);
        const bool starts = (line & ((quint64(1) << kLevelBits[size_t(l)]) - 1)) == 0;
        if (starts && l == 0)
            runTimes[slot] = time;
        for (size_t series = 0; series < values.size(); ++series) {
            MinMax summary;
            if (!starts)
                summary = {level.lows[series][slot], level.highs[series][slot],
                           level.flags[series][slot]};
            if (!isAbsent(lineValues[series]))
                summary.add(lineValues[series]);
            level.lows[series][slot] = summary.low;
            level.highs[series][slot] = summary.high;
            level.flags[series][slot] = summary.flags;
        }
    }
    ++total;
    if (count <= qsizetype(rawMask))
        ++count;
}

void SampleBuffer::clear()
{
    count = 0; // a line sets every series' value and summaries in its place
    total = 0;
    ++cleared;
    std::fill(latestValues.begin(), latestValues.end(), absent());
}

qsizetype SampleBuffer::lowerBound(double t) const
{
    return qsizetype(lineAt(t, total) - oldestLine());
}

quint64 SampleBuffer::lineAt(double t, quint64 end) const
{
    quint64 low = oldestLine(), high = std::max(low, std::min(end, total));
    while (low < high) {
        const quint64 middle = low + (high - low) / 2;
        if (timeOf(middle) < t)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

quint64 SampleBuffer::firstRun(int level) const
{
    const int bits = kLevelBits[size_t(level)];
    const quint64 begun = (total + (quint64(1) << bits) - 1) >> bits;
    const quint64 held = levels[size_t(level)].mask + 1;
    return begun > held ? begun - held : 0;
}

quint64 SampleBuffer::runAt(double t, quint64 end) const
{
    const int bits = kLevelBits[0];
    quint64 low = firstRun(0), high = std::max(low, (std::min(end, total) + kRunLines - 1) >> bits);
    while (low < high) {
        const quint64 middle = low + (high - low) / 2;
        if (runTimes[runIndex(0, middle)] < t)
            low = middle + 1;
        else
            high = middle;
    }
    return low << bits;
}

MinMax SampleBuffer::summary(int series, quint64 from, quint64 to) const
{
    MinMax result;
    const size_t s = size_t(series);
    to = std::min(to, total);
    quint64 line = std::max(from, historyStart());
    const quint64 held = oldestLine();
    while (line < to) {
        // The largest summary that starts here and lies within [line, to), while it is held.
        int l = kLevels - 1;
        for (; l >= 0; --l) {
            const int bits = kLevelBits[size_t(l)];
            const quint64 size = quint64(1) << bits;
            if ((line & (size - 1)) == 0 && to - line >= size && (line >> bits) >= firstRun(l))
                break;
        }
        if (l >= 0) {
            const Level &level = levels[size_t(l)];
            const size_t slot = runIndex(l, line >> kLevelBits[size_t(l)]);
            result
                = join(result, {level.lows[s][slot], level.highs[s][slot], level.flags[s][slot]});
            line += quint64(1) << kLevelBits[size_t(l)];
        } else if (line >= held) {
            // Line by line up to the next run, or the end.
            const quint64 stop = std::min(to, (line | (kRunLines - 1)) + 1);
            MinMax lines;
            for (; line < stop; ++line) {
                const double value = values[s][index(line)];
                if (!isAbsent(value))
                    lines.add(value);
            }
            result = join(result, lines);
        } else {
            const Level &level = levels[0];
            const size_t slot = runIndex(0, line >> kLevelBits[0]);
            result
                = join(result, {level.lows[s][slot], level.highs[s][slot], level.flags[s][slot]});
            line = (line | (kRunLines - 1)) + 1;
        }
    }
    return result;
}

bool writeCsv(const SampleBuffer &buffer, const QString &path, QString *error,
              const ParameterLog *parameters)
{
    // The changes on the chart, in time order.
    std::vector<const ParameterChange *> changes;
    if (parameters) {
        for (const ParameterChange &change : parameters->changes()) {
            if (!std::isnan(change.time))
                changes.push_back(&change);
        }
        std::stable_sort(
            changes.begin(), changes.end(),
            [](const ParameterChange *a, const ParameterChange *b) { return a->time < b->time; });
    }
    // The file is written beside and then renamed over the target, which would turn a device or
    // a FIFO into a regular file.
    if (QFileInfo(path).exists() && !QFileInfo(path).isFile()) {
        *error = QStringLiteral("not a regular file");
        return false;
    }
    QSaveFile file(path);
    // Unbuffered, so that a full disk fails the write that meets it, with its reason: a buffer
    // flushed only at the commit can lose the rows and still report success.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    QByteArray text("time");
    for (int series = 0; series < buffer.seriesCount(); ++series)
        text += ',' + buffer.name(series).toUtf8();
    if (!changes.empty())
        text += ",pidtune_parameter";
    text += '\n';
    char number[32];
    const auto put = [&](double value) {
        const std::to_chars_result written = std::to_chars(number, number + sizeof number, value);
        text.append(number, int(written.ptr - number));
    };
    const auto flush = [&] {
        qint64 written = 0, n = 0;
        while (written < text.size()
               && (n = file.write(text.constData() + written, text.size() - written)) > 0)
            written += n;
        const bool whole = written == text.size();
        text.clear();
        if (!whole) {
            *error = file.errorString();
            file.cancelWriting();
        }
        return whole;
    };
    size_t next = 0;
    const auto putChanges = [&](double until) {
        for (; next < changes.size() && !(changes[next]->time > until); ++next) {
            put(changes[next]->time);
            text += QByteArray(buffer.seriesCount() + 1, ',')
                + changeText(*changes[next], parameters->name(changes[next]->id)).toUtf8() + '\n';
        }
    };
    for (qsizetype line = 0; line < buffer.size(); ++line) {
        putChanges(buffer.time(line));
        put(buffer.time(line));
        for (int series = 0; series < buffer.seriesCount(); ++series) {
            text += ',';
            if (!SampleBuffer::isAbsent(buffer.value(series, line)))
                put(buffer.value(series, line));
        }
        if (!changes.empty())
            text += ',';
        text += '\n';
        if (text.size() > (1 << 16) && !flush())
            return false;
    }
    putChanges(std::numeric_limits<double>::infinity());
    if (!flush())
        return false;
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace pidtune::scope
