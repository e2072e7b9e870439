// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <limits>
#include <optional>
#include <vector>

namespace pidtune::scope {

// Why a step ended before its response had settled.
enum class Cut {
    None, // it settled: every figure is final
    NextStep, // the set-point moved again
    TimeBack, // the device's time went back: a restart
    SourceEnded,
    Closed, // the scope was closed
    TooLong, // more lines than a step keeps (kMaxLines)
};

// How the response answered one step of the set-point. Times in seconds; NaN where the
// response did not allow the measure (it never moved, never reached 90 %, never settled, or the
// step was cut before its final value was known).
struct StepMetrics
{
    static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    double time = kNone; // of the first line that carried the new set-point
    double from = kNone; // the set-point held before and after
    double to = kNone;
    double ramp = 0; // how long the set-point took from one to the other; 0 for a step
    double rise = kNone; // from 10 % to 90 % of the response's way to its final value
    double overshoot = kNone; // the peak beyond the final value, in % of that way
    double settling = kNone; // from the step until it stays within the band around the final value
    double error = kNone; // steady-state error: set-point minus final value
    double band = kNone; // the band's half-width, in the response's units
    Cut cut = Cut::None;
    QString params; // the parameters in force at the step, "Kp:5,Ki:20"; empty if none known
};

// The line printed for a step, for scripts: key=value pairs, new keys only ever added at the end.
// "step t=12.340 sp=0->50 rise=0.1831 overshoot=0.0 settling=0.3262 sse=8.333 band=0.1667"
// followed by " ramp=0.98" for a ramp, " cut=next-step" for a step cut short, and
// " params=Kp:5,Ki:20" where parameters are known.
QString stepLine(const StepMetrics &step);
// The word a cut step's line gives for why ("next-step", "time-back", ...).
QString cutName(Cut cut);

// Follows a set-point and a response line by line and measures each step of the set-point.
//
// A step is a change of the set-point by more than kJitter of the largest set-point magnitude
// seen, which then holds for kHoldSeconds: changes less than that apart (a ramp) make one step
// from the level held before the first to the level held after the last, timed from the first.
//
// The response is measured as an engineer would by hand: its noise (from second differences) and
// resolution (the smallest change between two lines) are taken from the lines before the step and
// around the final value, and the figures read off the response with its noise smoothed away
// (local straight lines as wide as the response's shape allows, no time shift). The band is 2 %
// of the way, widened to half the resolution or three times what noise is left. A step is
// reported once the response has stayed in the band at least as long as it took to get there and
// has stopped moving: over the last half of the time since the step its trend, extrapolated as a
// decaying exponential, leaves less than a quarter of the band to go. A step that ends before
// that is reported cut, with no settling time and no steady-state error.
class StepTracker
{
public:
    static constexpr double kJitter = 1e-4;
    static constexpr double kHoldSeconds = 0.1;
    // The longest step kept, as many lines as the plot's buffer holds.
    static constexpr size_t kMaxLines = size_t(1) << 17;

    // One line's set-point and response; a value the line does not have is NaN.
    // Returns the step this line completed or cut, if any.
    std::optional<StepMetrics> add(double time, double setpoint, double response);
    // Ends the step under way, or a set-point change not yet held, as cut for that reason.
    std::optional<StepMetrics> cut(Cut why);
    // Forgets everything, as for a new run of the device.
    void reset() { *this = StepTracker(); }

    struct Point
    {
        double time;
        double value;
    };

private:
    StepMetrics measure(bool *settled) const;
    bool believed(const StepMetrics &now, bool settled);
    std::optional<StepMetrics> startStep();
    std::optional<StepMetrics> cutStep(Cut why);

    // The set-point: the level it holds, the value it has, and a change not yet held.
    double level = StepMetrics::kNone;
    double current = StepMetrics::kNone;
    double largest = 0;
    bool moving = false;
    double moveStart = 0, lastChange = 0, lastRest = StepMetrics::kNone;
    size_t moveIndex = 0;

    bool stepping = false;
    StepMetrics step;
    std::vector<Point> points; // the response's recent lines, and all of the step's
    size_t preIndex = 0; // the lines before the step that tell its start level and noise
    size_t stepIndex = 0; // the step's first line
    size_t nextCheck = 0;
    double settledSince = StepMetrics::kNone; // the first check since which it looked settled
    double settledFinal = StepMetrics::kNone; // and the final value it looked settled at
};

} // namespace pidtune::scope
