// SPDX-License-Identifier: MIT
#pragma once

#include "minmax.h"
#include "samplebuffer.h"

#include <vector>

namespace pidtune::scope {

// Pixel columns along the time axis, fixed to the time of the buffer's first line, so that a
// column keeps its lines as the view scrolls: column k holds the lines whose time lies in
// [start(k), start(k + 1)). Drawn from summaries, a column takes the runs of 64 lines whose
// first line's time lies there, and no line is drawn further than one run from its time.
struct ColumnGrid
{
    double origin = 0; // the time at which column 0 starts
    double width = 1; // seconds per column
    quint64 end = 0; // only lines [0, end) are drawn
    bool summarised = false; // from summaries, beyond the lines held in full

    double start(qint64 column) const { return origin + double(column) * width; }
    // The column whose span holds the time.
    qint64 columnOf(double time) const;
    // The column that the line is drawn in.
    qint64 columnOfLine(const SampleBuffer &buffer, quint64 line) const;
};

// Where each of `count` columns from `first` begins, and where the last ends: count + 1 line
// numbers, so that column first + i holds lines [bounds[i], bounds[i + 1]).
std::vector<quint64> columnBounds(const SampleBuffer &buffer, const ColumnGrid &grid, qint64 first,
                                  int count);

// What each column shows of the series: exactly the lowest and highest value of its lines and
// where gaps fell among them, whatever the number of lines, at the cost of a few summaries.
void summariseColumns(const SampleBuffer &buffer, int series, const std::vector<quint64> &bounds,
                      MinMax *columns);

} // namespace pidtune::scope
