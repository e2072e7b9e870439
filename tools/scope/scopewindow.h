// SPDX-License-Identifier: MIT
#pragma once

#include "scopeoptions.h"
#include "stepmetrics.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <algorithm>
#include <vector>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QVBoxLayout;
class CompareView;
class PlotWidget;
class TuningPanel;

namespace pidtune::scope {
class Telemetry;
struct Prediction;
struct RelayTuning;
struct StepModel;
} // namespace pidtune::scope

// The scope's window: one chart of the last seconds of every series, a legend with each
// series' latest value and a box to hide it, the latest step's measures, and a status line.
// It draws only when lines arrived since it last drew, at most 50 times a second unless told
// otherwise, and not at all while paused.
class ScopeWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int kMaxLegendUpdatesPerSecond = 10;

    ScopeWindow(const pidtune::scope::Telemetry &telemetry, const QString &sourceName,
                QWidget *parent = nullptr);
    ~ScopeWindow() override;

    void setWindowSeconds(double seconds);
    void setMaxRedrawsPerSecond(int redraws) { maxRedrawsPerSecond = std::max(1, redraws); }
    void setFixedRange(double low, double high);
    void showStep(const pidtune::scope::StepMetrics &step);
    void showSourceEnded(const QString &reason);
    // Bytes dropped on their way, said once by the source.
    void showLoss(const QString &what);
    void showModel(const pidtune::scope::StepModel &model);
    void showRelay(const pidtune::scope::RelayTuning &relay);
    void showPrediction(const pidtune::scope::StepMetrics &step,
                        const pidtune::scope::Prediction &prediction, const QString &rule);
    TuningPanel *tuningPanel() const { return tuning; }

private:
    void scheduleRedraw();
    void redraw();
    void addSeries(int series);
    void updateLegend();
    // The step's response, from the lines still held, to the comparison.
    void compareStep(const pidtune::scope::StepMetrics &step);
    // The parameter changes on the chart, as the device answered them.
    void updateMarkers();
    void updateStatus();
    // The cursors' times, Δt, and each shown series' value at both and their difference.
    void updateCursorReadout();
    void setPaused(bool paused);
    void saveCsv();
    void savePng();

    const pidtune::scope::Telemetry &telemetry;
    PlotWidget *plot;
    CompareView *compare;
    QString source;
    QString sourceState;
    QDoubleSpinBox *windowSeconds;
    QCheckBox *fixedRange;
    QDoubleSpinBox *rangeLow;
    QDoubleSpinBox *rangeHigh;
    QPushButton *pause;
    QVBoxLayout *legend;
    std::vector<QCheckBox *> legendRows;
    QLabel *stepText;
    QLabel *cursorReadout;
    TuningPanel *tuning;
    QLabel *status;
    QTimer redrawTimer;
    QElapsedTimer sinceRedraw;
    QTimer statusTimer;
    QTimer legendTimer;
    bool legendStale = false;
    bool markersStale = false;
    int maxRedrawsPerSecond = pidtune::scope::kDefaultRedrawsPerSecond;
    quint64 linesAtLastStatus = 0;
    quint64 lineRate = 0; // lines in the last whole second
    QString loss;
};
