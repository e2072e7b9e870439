// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>

#include <vector>

namespace pidtune::scope {

// The last kCapacity telemetry lines: a ring of their times and, per series, a ring of the
// series' value in each of those lines. A series' ring is allocated whole when the series
// first appears, so memory stops growing once every series has been seen.
class SampleBuffer
{
public:
    static constexpr qsizetype kCapacity = qsizetype(1) << 17; // 131,072 lines
    static constexpr int kMaxSeries = 32;

    // A line without a value for that series. Not a gap: NaN and inf in the data are gaps,
    // while a series that some lines leave out is drawn straight across them.
    static double absent();
    static bool isAbsent(double value);

    int seriesCount() const { return int(names.size()); }
    QString name(int series) const { return names[size_t(series)]; }
    // The latest value the series had, or absent().
    double latest(int series) const { return latestValues[size_t(series)]; }
    // The new series' index, or -1 when there are kMaxSeries already.
    int addSeries(const QString &name);

    // One line: its time and a value (or absent()) for each series.
    void append(double time, const double *values);
    // Forgets the lines, keeping the series.
    void clear();

    // Lines held, the oldest first.
    qsizetype size() const { return count; }
    double time(qsizetype line) const { return times[index(line)]; }
    double value(int series, qsizetype line) const { return values[size_t(series)][index(line)]; }
    // The first line at or after the time (size() if none); times never decrease.
    qsizetype lowerBound(double time) const;

private:
    size_t index(qsizetype line) const { return size_t((start + line) & (kCapacity - 1)); }

    std::vector<QString> names;
    std::vector<double> latestValues;
    std::vector<double> times;
    std::vector<std::vector<double>> values;
    qsizetype start = 0;
    qsizetype count = 0;
};

// Writes the buffer as CSV: a header of "time" and the series' names, then one row per line,
// the time in seconds and each value as the shortest text that reads back as the same number,
// an empty cell where the line had none.
bool writeCsv(const SampleBuffer &buffer, const QString &path, QString *error);

} // namespace pidtune::scope
