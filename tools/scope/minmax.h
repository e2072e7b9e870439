// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <cmath>
#include <limits>

namespace pidtune::scope {

// What a run of one series' lines holds, in the order they came: its lowest and highest finite
// value and which of the two came first, and where its NaN and inf (gaps in the line) fell
// among them. Joining the summaries of two runs that follow each other gives exactly the
// summary of all their lines, so a pixel column can be built from summaries of any size
// instead of its lines, and show the same.
struct MinMax
{
    enum Flag : quint8 {
        LowFirst = 1, // the lowest value came before the highest (or they are one)
        GapBefore = 2, // a gap before the first value; a run of gaps alone has both
        GapInside = 4, // a gap between two values
        GapAfter = 8, // a gap after the last value
    };

    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    quint8 flags = 0;

    bool hasValues() const { return low <= high; }
    bool hasGap() const { return flags & (GapBefore | GapInside | GapAfter); }
    // No line of the run had the series.
    bool isEmpty() const { return !hasValues() && !hasGap(); }
    // The extremes in the order they came: a line drawn through the run enters at the first
    // and leaves from the last.
    double first() const { return flags & LowFirst ? low : high; }
    double last() const { return flags & LowFirst ? high : low; }

    // One more line's value after those already in; NaN and inf are a gap.
    void add(double value)
    {
        if (!std::isfinite(value)) {
            flags |= hasValues() ? quint8(GapAfter) : quint8(GapBefore | GapAfter);
        } else if (!hasValues()) {
            low = high = value;
            flags = quint8((flags & GapBefore) | LowFirst);
        } else {
            if (flags & GapAfter)
                flags = quint8((flags & ~GapAfter) | GapInside);
            if (value < low) {
                low = value;
                flags &= quint8(~LowFirst);
            } else if (value > high) {
                high = value;
                flags |= LowFirst;
            }
        }
    }
};

// The run of `a` followed by that of `b`.
inline MinMax join(const MinMax &a, const MinMax &b)
{
    if (a.isEmpty())
        return b;
    if (b.isEmpty())
        return a;
    MinMax joined;
    bool lowFirst;
    if (!b.hasValues()) {
        joined.low = a.low;
        joined.high = a.high;
        lowFirst = a.flags & MinMax::LowFirst;
    } else if (!a.hasValues()) {
        joined.low = b.low;
        joined.high = b.high;
        lowFirst = b.flags & MinMax::LowFirst;
    } else {
        // Of equal values the earlier one counts, as when the lines are added one by one.
        const bool lowFromB = b.low<a.low, highFromB = b.high> a.high;
        joined.low = lowFromB ? b.low : a.low;
        joined.high = highFromB ? b.high : a.high;
        lowFirst = lowFromB == highFromB ? ((lowFromB ? b.flags : a.flags) & MinMax::LowFirst)
                                         : !lowFromB;
    }
    if (!joined.hasValues()) {
        joined.flags = MinMax::GapBefore | MinMax::GapAfter;
        return joined;
    }
    const bool gapBefore = a.hasValues() ? bool(a.flags & MinMax::GapBefore) : true;
    const bool gapAfter = b.hasValues() ? bool(b.flags & MinMax::GapAfter) : true;
    const bool gapInside = ((a.flags | b.flags) & MinMax::GapInside)
        || (a.hasValues() && b.hasValues()
            && ((a.flags & MinMax::GapAfter) || (b.flags & MinMax::GapBefore)));
    joined.flags
        = quint8((lowFirst ? MinMax::LowFirst : 0) | (gapBefore ? MinMax::GapBefore : 0)
                 | (gapInside ? MinMax::GapInside : 0) | (gapAfter ? MinMax::GapAfter : 0));
    return joined;
}

} // namespace pidtune::scope
