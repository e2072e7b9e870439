// SPDX-License-Identifier: MIT
#include "looptuner.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace pidtune::scope {

namespace {

// As many lines as the plot's buffer holds: the longest step that can be modelled.
constexpr size_t kMaxLines = size_t(1) << 17;
// The least the lines before a step are taken back.
constexpr double kRestSeconds = 1;

QString four(double value)
{
    return QString::number(value, 'g', 4);
}

QString figures(const StepMetrics &step)
{
    return QStringLiteral("rise=%1 overshoot=%2 settling=%3")
        .arg(four(step.rise), QString::number(step.overshoot, 'f', 1), four(step.settling));
}

} // namespace

void LoopTuner::reset()
{
    lines.clear();
    relay.reset();
    lastSetpoint = StepMetrics::kNone;
    previous.reset();
    lastModel.reset();
    chosen.reset();
}

std::optional<RelayTuning> LoopTuner::addLine(double time, double setpoint, double y, double u)
{
    if (!lines.empty() && time < lines.back().time)
        reset(); // the device started again
    if (std::isfinite(setpoint))
        lastSetpoint = setpoint;
    sawControl = sawControl || std::isfinite(u);
    // A second line of the same time (the example firmware's state line repeats its stream
    // line) adds nothing.
    if (!std::isfinite(time) || !std::isfinite(y) || !std::isfinite(u)
        || (!lines.empty() && time == lines.back().time))
        return std::nullopt;
    lines.push_back({time, lastSetpoint, y, u});
    if (lines.size() > kMaxLines)
        lines.pop_front();
    const std::optional<RelayCycle> cycle = relay.add(time, lastSetpoint, y, u);
    if (!cycle)
        return std::nullopt;
    RelayTuning tuning;
    tuning.cycle = *cycle;
    tuning.ku = ultimateGain(cycle->d, cycle->a);
    const double tu = cycle->period;
    for (const auto &[rule, pid] :
         {std::pair(QStringLiteral("zn-pi"), zieglerNicholsPi(tuning.ku, tu)),
          std::pair(QStringLiteral("zn-pid"), zieglerNicholsPid(tuning.ku, tu)),
          std::pair(QStringLiteral("tl-pi"), tyreusLuybenPi(tuning.ku, tu)),
          std::pair(QStringLiteral("tl-pid"), tyreusLuybenPid(tuning.ku, tu))}) {
        Suggestion suggestion;
        suggestion.rule = rule;
        suggestion.pid = pid;
        if (lastModel && !settings.openLoop) {
            suggestion.plant = lastModel->identification.model;
            suggestion.prediction = predictStep(suggestion.plant, pid, settings.period,
                                                lastModel->step.from, lastModel->step.to);
        }
        if (rule == settings.rule)
            choose(suggestion);
        tuning.suggestions.push_back(suggestion);
    }
    return tuning;
}

StepModel LoopTuner::stepEnded(const StepMetrics &step)
{
    StepModel model;
    model.step = step;
    const auto signal = [&](const Line &line) {
        return settings.openLoop ? line.u : line.setpoint;
    };
    const auto first = std::lower_bound(lines.begin(), lines.end(), step.time,
                                        [](const Line &line, double t) { return line.time < t; });
    // The step lasts while the set-point (u in open loop) stays nearer its new value than its old.
    auto end = first;
    const double half = std::abs(step.to - step.from) / 2;
    while (end != lines.end() && !(std::abs(signal(*end) - step.to) > half))
        ++end;
    // The lines that lead up to it, as long as the step (no less than a second, so that a state
    // not at rest shows as such), but not into the first half of the time since the step before.
    double lead = kRestSeconds;
    if (end != first)
        lead = std::max(lead, (end - 1)->time - step.time);
    if (previous && previous->time < step.time)
        lead = std::min(lead, (step.time - previous->time) / 2);
    auto rest = first;
    while (rest != lines.begin() && (rest - 1)->time >= step.time - lead)
        --rest;
    if (rest == first && first != lines.begin())
        --rest; // one line at least
    for (auto line = rest; line != end; ++line) {
        model.record.time.push_back(line->time);
        model.record.u.push_back(line->u);
        model.record.y.push_back(line->y);
    }
    model.record.first = size_t(first - rest);
    model.identification = sawControl ? identify(model.record) : Identification();
    if (!sawControl)
        model.identification.refusal = Refusal::NoControl;
    previous = step;
    model.suggestions = suggest(model, settings.tauc);
    if (!model.suggestions.empty()) {
        lastModel = model;
        lastModel->record = {}; // its lines are not needed again
        lastModel->identification.response = {};
        const Suggestion *pick = &model.suggestions.front();
        for (const Suggestion &suggestion : model.suggestions) {
            if (suggestion.rule == settings.rule)
                pick = &suggestion;
        }
        choose(*pick);
    }
    return model;
}

std::vector<Suggestion> LoopTuner::suggest(const StepModel &model, double tauc) const
{
    std::vector<Suggestion> out;
    const Fopdt &plant = model.identification.model;
    if (model.identification.refusal != Refusal::None || !std::isfinite(plant.gain))
        return out;
    if (!(tauc > 0))
        tauc = defaultTauc(plant);
    // The set-point's step; open, a step of the set-point from where y was as large as the way
    // u's step took it.
    double from = model.step.from, to = model.step.to;
    if (settings.openLoop && model.record.first > 0) {
        from = model.record.y[model.record.first - 1];
        to = from + (model.step.to - model.step.from) * plant.gain;
    }
    // A derivative time shorter than two of the controller's periods is no derivative: the
    // difference over one period cannot carry it. Then the PID is the PI.
    const bool derivative = plant.theta / 3 >= 2 * settings.period;
    for (const auto &[rule, pid] :
         {std::pair(QStringLiteral("simc-pi"), simcPi(plant, tauc)),
          std::pair(QStringLiteral("simc-pid"),
                    derivative ? simcPid(plant, tauc) : simcPi(plant, tauc))}) {
        Suggestion suggestion;
        suggestion.rule = rule;
        suggestion.pid = pid;
        suggestion.tauc = tauc;
        suggestion.plant = plant;
        suggestion.prediction = predictStep(plant, pid, settings.period, from, to);
        out.push_back(suggestion);
    }
    return out;
}

void LoopTuner::choose(const Suggestion &suggestion)
{
    if (suggestion.prediction)
        chosen = suggestion;
}

std::optional<Prediction> LoopTuner::check(const StepMetrics &step) const
{
    if (!chosen || settings.openLoop)
        return std::nullopt;
    return predictStep(chosen->plant, chosen->pid, settings.period, step.from, step.to);
}

QString modelLine(const StepModel &model)
{
    const QString time = QString::number(model.step.time, 'f', 3);
    const Identification &found = model.identification;
    if (found.refusal != Refusal::None)
        return QStringLiteral("model t=%1 refused: %2").arg(time, refusalText(found));
    return QStringLiteral("model t=%1 K=%2 tau=%3 theta=%4 fit=%5%")
        .arg(time, four(found.model.gain), four(found.model.tau), four(found.model.theta),
             QString::number(found.fit, 'f', 1));
}

QString suggestLine(const Suggestion &suggestion, PidForm form)
{
    QString line = QStringLiteral("suggest ") + gainsText(suggestion.pid, form);
    if (std::isfinite(suggestion.tauc))
        line += QStringLiteral(" tauc=") + four(suggestion.tauc);
    line += QStringLiteral(" rule=") + suggestion.rule;
    if (suggestion.prediction)
        line += QLatin1Char(' ') + figures(suggestion.prediction->figures)
            + QStringLiteral(" Ms=%1 du=%2")
                  .arg(QString::number(suggestion.prediction->sensitivity, 'f', 2),
                       four(suggestion.prediction->outputSwing));
    return line;
}

QString relayLine(const RelayTuning &relay)
{
    return QStringLiteral("relay t=%1 d=%2 a=%3 Tu=%4 Ku=%5 cycles=%6")
        .arg(QString::number(relay.cycle.time, 'f', 3), four(relay.cycle.d), four(relay.cycle.a),
             four(relay.cycle.period), four(relay.ku))
        .arg(relay.cycle.cycles);
}

QString predictedLine(const StepMetrics &step, const Prediction &prediction, const QString &rule)
{
    const auto shortest = [](double value) {
        return QString::number(value, 'g', QLocale::FloatingPointShortest);
    };
    return QStringLiteral("predicted t=%1 sp=%2->%3 %4 rule=%5")
        .arg(QString::number(step.time, 'f', 3), shortest(step.from), shortest(step.to),
             figures(prediction.figures), rule);
}

} // namespace pidtune::scope
