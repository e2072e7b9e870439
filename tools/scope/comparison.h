// SPDX-License-Identifier: MIT
#pragma once

#include "samplebuffer.h"
#include "stepmetrics.h"

#include <QPointF>

#include <vector>

namespace pidtune::scope {

// One step's response, kept to be laid over others: its own copy, so that it outlives the lines
// the buffer holds.
struct StepCurve
{
    StepMetrics step; // its figures and the parameters in force
    double rest = StepMetrics::kNone; // where the response was when the step came
    std::vector<QPointF> points; // seconds since the step, the response's value
};

// The value of a series at a time: straight between the two lines around it that carry the
// series, as the chart draws it; the line's own value at a line's time. NaN where the series has
// no line on one side within kReach lines, or one of the two is a gap (NaN or inf).
double valueAt(const SampleBuffer &buffer, int series, double time);

// The response's lines from `before` seconds ahead of the step to `until`, its value at rest
// (the mean of the last kRestLines lines before the step), as a curve of time since the step. More
// lines than kMaxPoints are kept as the lowest and highest of each stretch, in their order, so no
// peak is lost.
StepCurve cutStep(const SampleBuffer &buffer, int response, const StepMetrics &step, double before,
                  double until);

// The curve to draw: in the response's units, or normalised to the set-point's step, 0 where the
// response rested and 1 at the new set-point, so that steps of any size and direction lie over
// each other (a loop that keeps an error ends below 1, an overshoot goes above it).
std::vector<QPointF> overlay(const StepCurve &curve, bool normalised);

// The last steps, laid over each other, and one pinned as the reference, kept whatever steps
// come after it.
class StepComparison
{
public:
    static constexpr int kDefaultCount = 6;

    // How many of the latest steps are kept, the reference besides.
    void setCount(int count);
    int count() const { return latest; }
    void add(StepCurve curve);
    // The curves, oldest first; the reference among them wherever it is.
    const std::vector<StepCurve> &curves() const { return kept; }
    // Pins one of curves() as the reference, or none (-1).
    void pin(int index);
    int pinned() const { return reference; }

    // The curves as CSV, one row per point: the step's time, its parameters and figures, then the
    // time since the step and the value (normalised or in the response's units).
    bool writeCsv(const QString &path, bool normalised, QString *error) const;

private:
    void trim();

    int latest = kDefaultCount;
    std::vector<StepCurve> kept;
    int reference = -1;
};

constexpr int kReach = 1024;
constexpr int kRestLines = 16;
constexpr size_t kMaxPoints = 8192;

} // namespace pidtune::scope
