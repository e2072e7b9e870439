// SPDX-License-Identifier: MIT
#pragma once

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace pidtune::scope {

// A relay experiment's limit cycle, as measured from the lines: the output u switching between
// two levels, the response y swinging in answer.
struct RelayCycle
{
    static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    double time = kNone; // of the switch that ended the last cycle measured, s
    double d = kNone; // the relay's amplitude: half the distance between u's two levels
    double bias = kNone; // the middle of u's levels
    double a = kNone; // the cycle's amplitude: half y's peak-to-peak
    double period = kNone; // Tu, s
    int cycles = 0; // how many cycles the figures are the means of
};

// Finds a relay's limit cycle in the lines, line by line. A cycle runs from one switch of u up
// to the next: a rise of u, from one line to the next, of more than half u's span over the
// last 64 lines. A cycle counts when u spends at least 80 % of it at its two levels (a relay,
// not a loop that oscillates), switches down once, spans at least 8 lines, and y swings across
// a set-point that stayed put (a P loop's square set-point also makes u a square wave). Once three
// cycles in a row agree (amplitudes within 2 %, periods within 2 % and the line interval that
// their switches are known to), the cycle is reported, with the
// means of the last five at most; and again when it changes by more than 2 %.
class RelayTracker
{
public:
    // A line's values; sp may be NaN for a device that does not send it.
    std::optional<RelayCycle> add(double time, double sp, double y, double u);
    void reset() { *this = RelayTracker(); }

private:
    struct Line
    {
        double time, sp, y, u;
    };
    struct Cycle
    {
        double start, end, high, low, peak, trough;
    };
    std::optional<Cycle> measure(size_t begin, size_t end) const;
    double extreme(size_t at, double sign) const;

    std::vector<Line> lines; // the previous cycle's and the current one's
    size_t currentStart = 0; // the first line of the current cycle
    bool switched = false; // a switch up began the current cycle
    double edge = 0; // its time
    std::vector<Cycle> cycles; // consecutive cycles that passed, the latest last
    std::optional<RelayCycle> reported;
};

} // namespace pidtune::scope
