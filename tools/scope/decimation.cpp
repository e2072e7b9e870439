// SPDX-License-Identifier: MIT
#include "decimation.h"

#include <algorithm>
#include <cmath>

namespace pidtune::scope {

namespace {

// Far beyond any column a view reaches, and exact as a double: converting a larger or
// non-finite quotient to an integer would be undefined.
constexpr double kFarthestColumn = 1e15;

} // namespace

qint64 ColumnGrid::columnOf(double time) const
{
    const double estimate = std::floor((time - origin) / width);
    qint64 column = qint64(
        std::clamp(std::isnan(estimate) ? 0.0 : estimate, -kFarthestColumn, kFarthestColumn));
    // The quotient may round across a column's edge; the edges decide, as they do for lines.
    for (int step = 0; step < 2 && start(column) > time; ++step)
        --column;
    for (int step = 0; step < 2 && start(column + 1) <= time; ++step)
        ++column;
    return column;
}

qint64 ColumnGrid::columnOfLine(const SampleBuffer &buffer, quint64 line) const
{
    return columnOf(summarised ? buffer.runTime(line) : buffer.timeOf(line));
}

std::vector<quint64> columnBounds(const SampleBuffer &buffer, const ColumnGrid &grid, qint64 first,
                                  int count)
{
    std::vector<quint64> bounds(size_t(count) + 1);
    for (int i = 0; i <= count; ++i) {
        const double time = grid.start(first + i);
        bounds[size_t(i)] = std::min(grid.end,
                                     grid.summarised ? buffer.runAt(time, grid.end)
                                                     : buffer.lineAt(time, grid.end));
    }
    return bounds;
}

void summariseColumns(const SampleBuffer &buffer, int series, const std::vector<quint64> &bounds,
                      MinMax *columns)
{
    for (size_t i = 0; i + 1 < bounds.size(); ++i)
        columns[i] = buffer.summary(series, bounds[i], bounds[i + 1]);
}

} // namespace pidtune::scope
