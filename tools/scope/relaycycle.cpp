// SPDX-License-Identifier: MIT
#include "relaycycle.h"

#include <algorithm>
#include <cmath>

namespace pidtune::scope {

namespace {

constexpr size_t kMinLinesPerCycle = 8;
constexpr size_t kSpanLines = 64;
constexpr size_t kMaxLinesPerCycle = size_t(1) << 16;
constexpr int kAgreeing = 3;
constexpr int kAveraged = 5;
constexpr double kAgreement = 0.02;

bool near(double a, double b, double tolerance)
{
    return std::abs(a - b) <= tolerance * std::max(std::abs(a), std::abs(b));
}

} // namespace

// y's extreme around line `at` (sign 1: a peak, -1: a trough). A relay's response turns at a
// corner, θ after each switch, between two lines: the extreme is where the straight lines
// through the two lines on each side meet. A response that turns smoothly (the lines at the
// extreme lie off both straight lines) is taken as a parabola through the three lines around
// it instead.
double RelayTracker::extreme(size_t at, double sign) const
{
    const double y = sign * lines[at].y;
    if (at < 2 || at + 2 >= lines.size())
        return lines[at].y;
    const auto value = [&](size_t i) {
        return sign * lines[i].y;
    };
    const auto time = [&](size_t i) {
        return lines[i].time;
    };
    const double left = (value(at - 1) - value(at - 2)) / (time(at - 1) - time(at - 2));
    const double right = (value(at + 2) - value(at + 1)) / (time(at + 2) - time(at + 1));
    const double scale = y - std::min(value(at - 1), value(at + 1));
    if (!(left > 0) || !(right < 0) || !(scale > 0))
        return lines[at].y;
    const double offLeft = std::abs(value(at - 1) + left * (time(at) - time(at - 1)) - y);
    const double offRight = std::abs(value(at + 1) + right * (time(at) - time(at + 1)) - y);
    double best = y;
    if (std::min(offLeft, offRight) <= 0.1 * scale) {
        const double meet
            = (value(at + 1) - value(at - 1) + left * time(at - 1) - right * time(at + 1))
            / (left - right);
        if (meet >= time(at - 1) && meet <= time(at + 1))
            best = std::max(y, value(at - 1) + left * (meet - time(at - 1)));
    } else {
        // The vertex of the parabola through the three lines.
        const double t0 = time(at - 1) - time(at), t2 = time(at + 1) - time(at);
        const double y0 = value(at - 1) - y, y2 = value(at + 1) - y;
        const double curvature = (y0 / t0 - y2 / t2) / (t0 - t2);
        const double slope = y0 / t0 - curvature * t0;
        if (curvature < 0)
            best = y - slope * slope / (4 * curvature);
    }
    // Never beyond what one more line's rise could add.
    best = std::min(best, y + scale);
    return sign * best;
}

std::optional<RelayTracker::Cycle> RelayTracker::measure(size_t begin, size_t end) const
{
    if (end - begin < kMinLinesPerCycle)
        return std::nullopt;
    double top = -HUGE_VAL, bottom = HUGE_VAL;
    for (size_t i = begin; i < end; ++i) {
        top = std::max(top, lines[i].u);
        bottom = std::min(bottom, lines[i].u);
    }
    const double middle = (top + bottom) / 2, band = (top - bottom) / 10;
    double high = 0, low = 0;
    int highs = 0, lows = 0, atLevel = 0, downs = 0;
    const double sp = lines[begin].sp;
    size_t peak = begin, trough = begin;
    for (size_t i = begin; i < end; ++i) {
        const Line &line = lines[i];
        if (line.u > middle) {
            high += line.u;
            ++highs;
            atLevel += line.u >= top - band;
        } else {
            low += line.u;
            ++lows;
            atLevel += line.u <= bottom + band;
        }
        if (i > begin && line.u <= middle && lines[i - 1].u > middle)
            ++downs;
        if (line.y > lines[peak].y)
            peak = i;
        if (line.y < lines[trough].y)
            trough = i;
        if (line.sp != sp && !(std::isnan(line.sp) && std::isnan(sp)))
            return std::nullopt;
    }
    if (downs != 1 || highs == 0 || lows == 0 || atLevel < 0.8 * double(end - begin))
        return std::nullopt;
    Cycle cycle;
    cycle.high = high / highs;
    cycle.low = low / lows;
    cycle.peak = extreme(peak, 1);
    cycle.trough = extreme(trough, -1);
    if (!(cycle.peak > sp && cycle.trough < sp) && !std::isnan(sp))
        return std::nullopt;
    return cycle;
}

std::optional<RelayCycle> RelayTracker::add(double time, double sp, double y, double u)
{
    if (!std::isfinite(time) || !std::isfinite(y) || !std::isfinite(u))
        return std::nullopt;
    if (!lines.empty() && time == lines.back().time)
        return std::nullopt; // a second line of the same moment
    if (!lines.empty() && time < lines.back().time)
        reset(); // time went back: a new run
    lines.push_back({time, sp, y, u});
    const size_t last = lines.size() - 1;
    if (last == 0)
        return std::nullopt;
    // u's span over the last kSpanLines: both levels of a short cycle, one level and the switch
    // of a long one, and soon none of what u did before the relay began.
    double top = -HUGE_VAL, bottom = HUGE_VAL;
    for (size_t i = last + 1 > kSpanLines ? last + 1 - kSpanLines : 0; i <= last; ++i) {
        top = std::max(top, lines[i].u);
        bottom = std::min(bottom, lines[i].u);
    }
    const bool up = u - lines[last - 1].u > (top - bottom) / 2;
    const auto forget = [&](size_t count) {
        lines.erase(lines.begin(), lines.begin() + std::ptrdiff_t(count));
    };
    if (!up) {
        if (lines.size() > 2 * kMaxLinesPerCycle) { // no relay here: forget the oldest half
            forget(kMaxLinesPerCycle);
            currentStart = 0;
            switched = false;
            cycles.clear();
        }
        return std::nullopt;
    }
    const double switchTime = (lines[last - 1].time + time) / 2;
    std::optional<Cycle> cycle;
    if (switched)
        cycle = measure(currentStart, last);
    // Keep this cycle's lines, for the extremes near its start, and begin the next.
    forget(currentStart);
    currentStart = last - currentStart;
    if (!cycle) {
        cycles.clear();
    } else {
        cycle->start = edge;
        cycle->end = switchTime;
        cycles.push_back(*cycle);
        if (cycles.size() > size_t(kAveraged))
            cycles.erase(cycles.begin());
    }
    switched = true;
    edge = switchTime;
    if (cycles.size() < size_t(kAgreeing))
        return std::nullopt;

    RelayCycle mean;
    mean.time = switchTime;
    mean.cycles = int(cycles.size());
    mean.d = mean.bias = mean.a = 0;
    for (const Cycle &c : cycles) {
        mean.d += (c.high - c.low) / 2 / mean.cycles;
        mean.bias += (c.high + c.low) / 2 / mean.cycles;
        mean.a += (c.peak - c.trough) / 2 / mean.cycles;
    }
    mean.period = (cycles.back().end - cycles.front().start) / mean.cycles;
    // A cycle's switches are known to a line each: its period, to a line's interval.
    const double interval = (lines.back().time - lines.front().time) / double(lines.size() - 1);
    for (auto c = cycles.end() - kAgreeing; c != cycles.end(); ++c) {
        if (!(std::abs(c->end - c->start - mean.period) <= kAgreement * mean.period + interval)
            || !near((c->peak - c->trough) / 2, mean.a, kAgreement)
            || !near((c->high - c->low) / 2, mean.d, kAgreement))
            return std::nullopt;
    }
    if (reported
        && std::abs(reported->period - mean.period)
            <= kAgreement * mean.period + interval / mean.cycles
        && near(reported->a, mean.a, kAgreement) && near(reported->d, mean.d, kAgreement))
        return std::nullopt;
    reported = mean;
    return mean;
}

} // namespace pidtune::scope
