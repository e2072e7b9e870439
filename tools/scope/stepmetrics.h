// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <limits>
#include <optional>
#include <vector>

namespace pidtune::scope {

// How the response answered one step of the set-point. Times in seconds; NaN where the
// response did not allow the measure (it never moved, never reached 90 %, never settled).
struct StepMetrics
{
    static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    double time = kNone; // of the first line that carried the new set-point
    double from = kNone; // the set-point before and after
    double to = kNone;
    double rise = kNone; // from 10 % to 90 % of the response's way to its final value
    double overshoot = kNone; // the peak beyond the final value, in % of that way
    double settling = kNone; // from the step until it stays within 2 % of the way around it
    double error = kNone; // steady-state error: set-point minus final value
};

// The line printed for a step, for scripts:
// "step t=12.340 sp=0->50 rise=0.1831 overshoot=0.0 settling=0.3262 sse=8.333"
QString stepLine(const StepMetrics &step);

// Follows a set-point and a response line by line and measures each step of the set-point:
// any change of its value starts one. A step is reported once the response has stayed within
// the 2 % band for twice as long as it took to get there and no longer drifts (its trend over
// the second half of the time since the step moves it by less than a quarter of the band), or
// else when the next step begins or the source ends (finish()).
class StepTracker
{
public:
    // One line's set-point and response; a value the line does not have is NaN.
    // Returns the step this line completed, if any.
    std::optional<StepMetrics> add(double time, double setpoint, double response);
    // The step under way, measured on what arrived.
    std::optional<StepMetrics> finish();
    // Forgets everything, as for a new run of the device.
    void reset() { *this = StepTracker(); }

private:
    struct Point
    {
        double time;
        double value;
    };
    StepMetrics measure() const;
    bool levelled(const StepMetrics &now) const;

    bool stepping = false;
    StepMetrics step;
    double setpoint = StepMetrics::kNone;
    Point lastResponse {StepMetrics::kNone, StepMetrics::kNone};
    std::vector<Point> response; // since the step, led by the last value before it
    size_t nextCheck = 0;
};

} // namespace pidtune::scope
