// SPDX-License-Identifier: MIT
#include "samplebuffer.h"

#include <QFileInfo>
#include <QSaveFile>

#include <charconv>
#include <cstdint>
#include <cstring>

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

int SampleBuffer::addSeries(const QString &name)
{
    if (seriesCount() == kMaxSeries)
        return -1;
    names.push_back(name);
    latestValues.push_back(absent());
    values.emplace_back(size_t(kCapacity), absent());
    if (times.empty())
        times.resize(size_t(kCapacity));
    return seriesCount() - 1;
}

void SampleBuffer::append(double time, const double *lineValues)
{
    const size_t at = index(count);
    times[at] = time;
    for (size_t series = 0; series < values.size(); ++series) {
        values[series][at] = lineValues[series];
        if (!isAbsent(lineValues[series]))
            latestValues[series] = lineValues[series];
    }
    if (count < kCapacity)
        ++count;
    else
        start = (start + 1) & (kCapacity - 1);
}

void SampleBuffer::clear()
{
    start = count = 0; // a line sets every series' value in its place
    std::fill(latestValues.begin(), latestValues.end(), absent());
}

qsizetype SampleBuffer::lowerBound(double t) const
{
    qsizetype low = 0, high = count;
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        if (time(middle) < t)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

bool writeCsv(const SampleBuffer &buffer, const QString &path, QString *error)
{
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
    for (qsizetype line = 0; line < buffer.size(); ++line) {
        put(buffer.time(line));
        for (int series = 0; series < buffer.seriesCount(); ++series) {
            text += ',';
            if (!SampleBuffer::isAbsent(buffer.value(series, line)))
                put(buffer.value(series, line));
        }
        text += '\n';
        if (text.size() > (1 << 16) && !flush())
            return false;
    }
    if (!flush())
        return false;
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace pidtune::scope
