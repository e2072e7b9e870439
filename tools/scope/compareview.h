// SPDX-License-Identifier: MIT
#pragma once

#include "comparison.h"

#include <QWidget>

class QCheckBox;
class QListWidget;
class QPushButton;
class QSpinBox;

class CompareChart;

// The last steps laid over each other, aligned at their start, in the response's units or
// normalised to the set-point's step (0 where the response rested, 1 at the new set-point); a
// legend entry per curve with its parameters and figures; one step pinned as the reference,
// kept and drawn in black whatever steps come after it; the comparison saved as PNG or CSV.
class CompareView : public QWidget
{
    Q_OBJECT

public:
    explicit CompareView(QWidget *parent = nullptr);

    void addStep(pidtune::scope::StepCurve curve);
    const pidtune::scope::StepComparison &comparison() const { return steps; }
    // The colour of a curve: black for the reference, else the chart's own by its place.
    QColor colour(int curve) const;
    // A legend entry's text.
    static QString legendText(const pidtune::scope::StepCurve &curve, bool reference);

signals:
    void saved(const QString &message);

private:
    void showCurves();
    void savePng();
    void saveCsv();

    pidtune::scope::StepComparison steps;
    CompareChart *chart;
    QSpinBox *count;
    QCheckBox *normalise;
    QListWidget *legend;
    QPushButton *pin;
};
