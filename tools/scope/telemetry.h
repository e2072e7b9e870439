// SPDX-License-Identifier: MIT
#pragma once

#include "looptuner.h"
#include "parameterlog.h"
#include "samplebuffer.h"
#include "stepmetrics.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>

#include <limits>

namespace pidtune::scope {

struct TelemetrySettings
{
    QByteArray timeField; // the field that gives each line's time; empty: its arrival
    double secondsPerUnit = 1e-3; // of the time field
    QByteArray setpoint = "sp";
    QByteArray response = "y";
    QByteArray control = "u"; // the controller's output, the plant's input
    TuningSettings tuning {};
};

// Turns the bytes of a source into plotted lines: splits them at CR, LF or CRLF, reads each
// line's values into the series' rings, counts what it has to skip, measures the set-point's
// steps on the response, models the loop from each step, and finds a relay's limit cycle. It
// keeps the parameters written to the device and the device's reports of them (lines
// "param id=..." and "reject id=...", which are not plotted), and gives each step the parameters
// in force at its start.
class Telemetry : public QObject
{
    Q_OBJECT

public:
    explicit Telemetry(const TelemetrySettings &settings, QObject *parent = nullptr);

    void setTimeField(const QByteArray &name, double secondsPerUnit);
    void feed(const QByteArray &bytes);
    // The source ended, or the scope closes: its last line even without a line end, and the
    // step under way, cut for that reason.
    void finish(Cut why = Cut::SourceEnded);

    // A parameter frame went to the device just now, and one that a recording holds.
    void parameterSent(int id, float value);
    void parameterRecorded(const ParameterChange &change, const QString &name);
    // The last `count` frames sent never left after all.
    void parametersUnsent(int count);

    const SampleBuffer &buffer() const { return samples; }
    const ParameterLog &parameters() const { return params; }
    const QByteArray &responseName() const { return settings.response; }
    ParameterLog &parameters() { return params; }
    // Lines received, and of those skipped: longer than kMaxLineLength, nothing to plot, or
    // without the time field when there is one.
    quint64 lines() const { return received; }
    quint64 skipped() const { return skippedLines; }
    // Whether lines named more series than the buffer takes; those were left out.
    bool tooManySeries() const { return seriesRefused; }
    LoopTuner &tuner() { return loop; }
    const LoopTuner &tuner() const { return loop; }

signals:
    // New lines are in the buffer.
    void arrived();
    void stepMeasured(const pidtune::scope::StepMetrics &step);
    // After stepMeasured: the step the suggestion chosen before it predicted, then its model.
    void stepPredicted(const pidtune::scope::StepMetrics &step,
                       const pidtune::scope::Prediction &prediction, const QString &rule);
    void stepModelled(const pidtune::scope::StepModel &model);
    void relayMeasured(const pidtune::scope::RelayTuning &relay);
    // A parameter change was added or answered.
    void parametersChanged();

private:
    void addLine(const char *begin, const char *end);
    int series(const char *name, int size);
    void report(const std::optional<StepMetrics> &step);
    double unwrap(double time);
    // What a parameter frame or report that came now is timed by: the clock for arrival-timed
    // lines, else NaN, for the next line to place it.
    double now() const;
    void announceParameters();

    TelemetrySettings settings;
    SampleBuffer samples;
    ParameterLog params;
    quint64 paramsShown = 0; // its revision when parametersChanged() was last emitted
    StepTracker steps;
    LoopTuner loop;
    QElapsedTimer clock;
    double lastTime = std::numeric_limits<double>::quiet_NaN(); // as the time field gave it
    double wrapped = 0; // added to it for the times its counter wrapped
    double lastLineTime = std::numeric_limits<double>::quiet_NaN(); // in seconds
    std::vector<QByteArray> names; // of the series, as in the lines
    std::vector<double> line; // the values of the line being read, by series
    QByteArray pending; // a line's start, waiting for its end
    bool overlong = false;
    bool appended = false; // since arrived() was last emitted
    quint64 received = 0;
    quint64 skippedLines = 0;
    bool seriesRefused = false;
};

} // namespace pidtune::scope
