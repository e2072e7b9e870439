// SPDX-License-Identifier: MIT
#pragma once

#include "fopdt.h"
#include "relaycycle.h"
#include "stepmetrics.h"
#include "tuning.h"

#include <QString>

#include <deque>
#include <optional>
#include <vector>

namespace pidtune::scope {

struct TuningSettings
{
    PidForm form = PidForm::Parallel;
    double period = 0.001; // s: how often the device runs its controller
    double tauc = StepMetrics::kNone; // the closed loop's time constant; NaN: defaultTauc()
    bool openLoop = false; // steps are of u, not of the set-point
    QString rule = QStringLiteral("simc-pi"); // whose prediction the next step is checked by
};

// Gains a rule suggests, and for a model's rules the step they predict.
struct Suggestion
{
    QString rule; // "simc-pi", "simc-pid", "zn-pi", "zn-pid", "tl-pi", "tl-pid"
    Pid pid;
    double tauc = StepMetrics::kNone; // SIMC's only
    // A set-point step as large as the one modelled, the model in closed loop with the gains;
    // a relay's rules are predicted on the last step's model, if there was one.
    std::optional<Prediction> prediction;
    Fopdt plant; // the model predicted on
};

// What a step told about the loop.
struct StepModel
{
    StepMetrics step;
    StepRecord record; // its lines and those that led up to it
    Identification identification;
    std::vector<Suggestion> suggestions; // none without a model
};

// A relay's cycle and the gains its rules give.
struct RelayTuning
{
    RelayCycle cycle;
    double ku = StepMetrics::kNone;
    std::vector<Suggestion> suggestions;
};

// Models the loop from the device's own lines. Every line goes in (addLine); for each step the
// step tracker reports, stepEnded() identifies the plant from u to y over the step's lines and
// the rest before it, and suggests gains. After a suggestion, the step that follows is checked
// against the step it predicted (check()). A relay's limit cycle in the lines is found on the
// way (addLine's result).
class LoopTuner
{
public:
    explicit LoopTuner(const TuningSettings &settings = {}) : settings(settings) { }
    const TuningSettings &tuningSettings() const { return settings; }

    std::optional<RelayTuning> addLine(double time, double setpoint, double y, double u);
    StepModel stepEnded(const StepMetrics &step);
    // The suggestions for a model at another tauc (the operator's choice).
    std::vector<Suggestion> suggest(const StepModel &model, double tauc) const;
    // The suggestion the next step is checked against: after each model or relay cycle, the
    // one of the settings' rule, or another the operator chose; one without a prediction is
    // not taken.
    void choose(const Suggestion &suggestion);
    // What the chosen suggestion predicts for the step given, from its set-point before to its
    // set-point after.
    std::optional<Prediction> check(const StepMetrics &step) const;
    QString chosenRule() const { return chosen ? chosen->rule : QString(); }
    void reset();

private:
    struct Line
    {
        double time, setpoint, y, u;
    };
    TuningSettings settings;
    std::deque<Line> lines; // the last kMaxLines
    RelayTracker relay;
    double lastSetpoint = StepMetrics::kNone;
    bool sawControl = false; // a line with u came
    std::optional<StepMetrics> previous; // the last step reported
    std::optional<StepModel> lastModel; // the last step that gave a model
    std::optional<Suggestion> chosen;
};

// The lines printed for scripts, 4 significant digits:
// "model t=1.020 K=1 tau=0.4992 theta=0 fit=99.9%", or "model t=1.020 refused: u never moved"
QString modelLine(const StepModel &model);
// "suggest Kp=2.004 Ki=4.015 Kd=0 filter=0 tauc=0.2496 rule=simc-pi rise=0.5487
// overshoot=0.0 settling=0.9783 Ms=1.01 du=100.2", the gains in the form given; a relay's
// rules have no tauc and no prediction.
QString suggestLine(const Suggestion &suggestion, PidForm form);
// "relay t=12.340 d=10 a=1.822 Tu=0.3667 Ku=6.987 cycles=5"
QString relayLine(const RelayTuning &relay);
// "predicted t=5.000 sp=50->60 rise=... overshoot=... settling=... rule=simc-pi": the step the
// chosen suggestion predicted for the step just measured.
QString predictedLine(const StepMetrics &step, const Prediction &prediction, const QString &rule);

} // namespace pidtune::scope
