// SPDX-License-Identifier: MIT
#pragma once

#include "minmax.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <vector>

namespace pidtune::scope {

// The telemetry lines a scope holds. The newest lines at full resolution: a ring of their
// times and, per series, of the series' value in each. Far more lines as summaries: per series
// and for each run of 64, 1,024 and 16,384 lines, their lowest and highest value (MinMax), so
// that any stretch of them can be drawn from a few summaries at the cost of its pixels, not of
// its lines. A series' rings are allocated whole when the series first appears, so memory stops
// growing once every series has been seen.
//
// Lines are numbered from 0, the first since the buffer was cleared. The full-resolution ring
// holds the last 2^rawBits, the summaries the last 2^historyBits (rounded to whole runs). With
// the default sizes, at 20,000 lines a second: 13 s in full and 14 min as summaries; at 1,000
// lines a second 4 min 22 s and 4 h 40 min. Memory: 4 MiB, and 6.5 MiB per series.
class SampleBuffer
{
public:
    static constexpr int kMaxSeries = 32;
    static constexpr int kLevels = 3;
    // Lines per summary, finest first, as powers of two.
    static constexpr std::array<int, kLevels> kLevelBits {6, 10, 14};

    explicit SampleBuffer(int rawBits = 18, int historyBits = 24);

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
    // Changes each time the lines are forgotten.
    int generation() const { return cleared; }

    // The lines held at full resolution, the oldest first.
    qsizetype capacity() const { return qsizetype(rawMask + 1); }
    qsizetype size() const { return count; }
    double time(qsizetype line) const { return times[index(oldestLine() + quint64(line))]; }
    double value(int series, qsizetype line) const
    {
        return values[size_t(series)][index(oldestLine() + quint64(line))];
    }
    // The first line at or after the time (size() if none); times never decrease.
    qsizetype lowerBound(double time) const;

    // The same by line number: lines [oldestLine(), appended()) are held in full.
    quint64 appended() const { return total; }
    quint64 oldestLine() const { return total - quint64(count); }
    double timeOf(quint64 line) const { return times[index(line)]; }
    // The time of line 0.
    double origin() const { return firstTime; }
    // The first line at or after the time, among [oldestLine(), end).
    quint64 lineAt(double time, quint64 end) const;

    // Summaries reach back to historyStart(), in runs of 64 lines that start at multiples of 64.
    static constexpr quint64 kRunLines = quint64(1) << kLevelBits[0];
    quint64 historyStart() const { return firstRun(0) << kLevelBits[0]; }
    // The time of the first line of the run that holds the line.
    double runTime(quint64 line) const { return runTimes[runIndex(0, line >> kLevelBits[0])]; }
    // The first line of the first run whose first line is at or after the time, among the runs
    // that start in [historyStart(), end).
    quint64 runAt(double time, quint64 end) const;

    // What the series' lines [from, to) hold, exactly, when from >= historyStart() and the
    // lines that do not fill a whole run of 64 are still held in full. Of those no longer held,
    // their whole run counts, with what lies outside [from, to) of it.
    MinMax summary(int series, quint64 from, quint64 to) const;

private:
    size_t index(quint64 line) const { return size_t(line & rawMask); }
    quint64 firstRun(int level) const;
    size_t runIndex(int level, quint64 run) const { return size_t(run & levels[level].mask); }

    struct Level
    {
        quint64 mask = 0; // runs held, less one
        std::vector<std::vector<double>> lows, highs; // per series
        std::vector<std::vector<quint8>> flags;
    };

    quint64 rawMask;
    std::vector<QString> names;
    std::vector<double> latestValues;
    std::vector<double> times;
    std::vector<std::vector<double>> values;
    std::array<Level, kLevels> levels;
    std::vector<double> runTimes; // of the finest level's runs
    qsizetype count = 0;
    quint64 total = 0;
    double firstTime = 0;
    int cleared = 0;
};

class ParameterLog;

// Writes the full-resolution lines as CSV: a header of "time" and the series' names, then one
// row per line, the time in seconds and each value as the shortest text that reads back as the
// same number, an empty cell where the line had none. With parameter changes on the chart, a last
// column "pidtune_parameter" holds each in a row of its own at its time, before a line of the
// same time, its other cells empty (changeText()).
bool writeCsv(const SampleBuffer &buffer, const QString &path, QString *error,
              const ParameterLog *parameters = nullptr);

} // namespace pidtune::scope
