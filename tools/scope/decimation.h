// SPDX-License-Identifier: MIT
#pragma once

#include "samplebuffer.h"

#include <QPointF>
#include <QVector>

#include <limits>

namespace pidtune::scope {

// The lowest and highest finite value seen.
struct Extent
{
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    bool isEmpty() const { return low > high; }
};

// What a series' line looks like over [from, to] on a plot `columns` pixels wide, with at most
// two points per column: its lowest and highest value there, in the order they came, at the
// column's middle. So drawing costs the same whatever the line rate, and no peak is lost. The
// series' NaN and inf become a NaN point, a gap in the line. Lines before `first` are not read.
void decimate(const SampleBuffer &buffer, int series, qsizetype first, double from, double to,
              int columns, QVector<QPointF> &points, Extent &extent);

} // namespace pidtune::scope
