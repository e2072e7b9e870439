// SPDX-License-Identifier: MIT
#pragma once

#include "looptuner.h"

#include <QWidget>

#include <cmath>

#include <optional>

class QComboBox;
class QLabel;
class QSlider;

// The scope's tuning, beside the chart: the model of the last step (or why there is none), the
// operator's choice between a faster and a more robust loop (tauc, a multiple of the model's
// default), the rule, the gains it suggests in the device's form with the step they predict,
// a relay's cycle, and the last step measured against the step predicted for it. It only
// shows: the operator releases the gains in pidtune.
class TuningPanel : public QWidget
{
    Q_OBJECT

public:
    TuningPanel(const pidtune::scope::TuningSettings &settings, QWidget *parent = nullptr);

    void showModel(const pidtune::scope::StepModel &model);
    void showRelay(const pidtune::scope::RelayTuning &relay);
    void showCheck(const pidtune::scope::StepMetrics &measured,
                   const pidtune::scope::Prediction &predicted, const QString &rule);
    // The suggestions for the last model at the tauc chosen now (none without a model).
    const std::vector<pidtune::scope::Suggestion> &suggestions() const { return current; }
    const std::optional<pidtune::scope::StepModel> &model() const { return lastModel; }
    // The chosen rule's suggestion, if it has one.
    std::optional<pidtune::scope::Suggestion> chosen() const;
    // The operator's tauc as a multiple of the model's own: 2^(position / 10), ×0.25 to ×4.
    static double taucFactor(int position) { return std::pow(2.0, position / 10.0); }

signals:
    // The operator chose another tauc or rule: the suggestion the next step is checked by.
    void choiceChanged();

private:
    void refresh();
    double tauc() const;

    pidtune::scope::TuningSettings settings;
    std::optional<pidtune::scope::StepModel> lastModel;
    std::optional<pidtune::scope::RelayTuning> lastRelay;
    std::vector<pidtune::scope::Suggestion> current;
    QLabel *modelText;
    QSlider *taucSlider;
    QLabel *taucText;
    QComboBox *rule;
    QLabel *suggestionText;
    QLabel *relayText;
    QLabel *checkText;
};
