// SPDX-License-Identifier: MIT
#include "scopewindow.h"

#include "compareview.h"
#include "comparison.h"
#include "plotwidget.h"
#include "telemetry.h"
#include "tuningpanel.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

using pidtune::scope::SampleBuffer;

namespace {

// As the step's line on standard output gives it; a dash for what could not be measured.
QString number(double value, char format = 'g', int precision = 4)
{
    return std::isfinite(value) ? QString::number(value, format, precision) : QStringLiteral("—");
}

} // namespace

ScopeWindow::ScopeWindow(const pidtune::scope::Telemetry &telemetry, const QString &sourceName,
                         QWidget *parent)
    : QMainWindow(parent), telemetry(telemetry), source(sourceName)
{
    setWindowTitle(tr("pidtune-scope – %1").arg(sourceName));
    auto *central = new QWidget(this);
    setCentralWidget(central);
    auto *rows = new QVBoxLayout(central);

    auto *controls = new QHBoxLayout;
    rows->addLayout(controls);
    controls->addWidget(new QLabel(tr("时间窗口"), central));
    windowSeconds = new QDoubleSpinBox(central);
    windowSeconds->setObjectName(QStringLiteral("windowSeconds"));
    windowSeconds->setRange(0.1, 3600);
    windowSeconds->setDecimals(1);
    windowSeconds->setSuffix(tr(" 秒"));
    windowSeconds->setValue(10);
    controls->addWidget(windowSeconds);
    fixedRange = new QCheckBox(tr("固定 Y 轴"), central);
    fixedRange->setObjectName(QStringLiteral("fixedRange"));
    controls->addWidget(fixedRange);
    rangeLow = new QDoubleSpinBox(central);
    rangeHigh = new QDoubleSpinBox(central);
    for (QDoubleSpinBox *end : {rangeLow, rangeHigh}) {
        end->setRange(-1e9, 1e9);
        end->setDecimals(3);
        end->setEnabled(false);
        controls->addWidget(end);
        connect(end, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this, [this] {
            if (fixedRange->isChecked())
                plot->setYRange(rangeLow->value(), rangeHigh->value());
        });
    }
    controls->addStretch();
    pause = new QPushButton(tr("暂停"), central);
    pause->setObjectName(QStringLiteral("pause"));
    pause->setCheckable(true);
    controls->addWidget(pause);
    auto *saveCsvButton = new QPushButton(tr("保存 CSV…"), central);
    auto *savePngButton = new QPushButton(tr("保存 PNG…"), central);
    controls->addWidget(saveCsvButton);
    controls->addWidget(savePngButton);

    auto *body = new QHBoxLayout;
    rows->addLayout(body, 1);
    plot = new PlotWidget(central);
    plot->setXTitle(tr("时间（秒）"));
    plot->setBuffer(&telemetry.buffer());
    plot->setTimeSpan(windowSeconds->value());
    plot->setMinimumSize(480, 320);
    // The live chart, and the last steps laid over each other.
    auto *views = new QTabWidget(central);
    views->setObjectName(QStringLiteral("views"));
    views->addTab(plot, tr("实时曲线"));
    compare = new CompareView(views);
    views->addTab(compare, tr("阶跃对比"));
    connect(compare, &CompareView::saved, this,
            [this](const QString &message) { statusBar()->showMessage(message, 5000); });
    // Under the chart, as wide as it: a row for each series shown.
    auto *chartColumn = new QVBoxLayout;
    chartColumn->addWidget(views, 1);
    cursorReadout = new QLabel(central);
    cursorReadout->setObjectName(QStringLiteral("cursorReadout"));
    cursorReadout->setTextInteractionFlags(Qt::TextSelectableByMouse);
    chartColumn->addWidget(cursorReadout);
    body->addLayout(chartColumn, 1);
    auto *side = new QVBoxLayout;
    body->addLayout(side);
    // 32 series' rows are taller than a window need be: they scroll.
    auto *legendArea = new QScrollArea(central);
    legendArea->setWidgetResizable(true);
    legendArea->setFrameShape(QFrame::NoFrame);
    legendArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *legendRowsBox = new QWidget(legendArea);
    legend = new QVBoxLayout(legendRowsBox);
    legend->setAlignment(Qt::AlignTop);
    legend->setContentsMargins(0, 0, 0, 0);
    legendArea->setWidget(legendRowsBox);
    side->addWidget(legendArea, 1);
    // The step's figures are measured on every line as it arrives, whatever the chart draws.
    side->addWidget(new QLabel(tr("最近一次阶跃（逐行测得，全分辨率）"), central));
    stepText = new QLabel(tr("（设定值尚未阶跃）"), central);
    stepText->setObjectName(QStringLiteral("step"));
    stepText->setMinimumWidth(200);
    side->addWidget(stepText);
    tuning = new TuningPanel(telemetry.tuner().tuningSettings(), central);
    tuning->setMaximumWidth(320);
    side->addWidget(tuning);

    status = new QLabel(central);
    status->setObjectName(QStringLiteral("status"));
    statusBar()->addWidget(status, 1);
    sourceState = tr("%1 已打开").arg(sourceName);
    updateStatus();

    redrawTimer.setSingleShot(true);
    connect(&redrawTimer, &QTimer::timeout, this, &ScopeWindow::redraw);
    // The lines of each second, counted also while paused; shown frozen while paused, like the
    // chart, while a source that closes still shows at once.
    statusTimer.setObjectName(QStringLiteral("statusTimer"));
    statusTimer.setParent(this); // to be found, by a test that waits for a second to pass
    connect(&statusTimer, &QTimer::timeout, this, [this] {
        lineRate = this->telemetry.lines() - linesAtLastStatus;
        linesAtLastStatus = this->telemetry.lines();
        if (!pause->isChecked())
            updateStatus();
    });
    statusTimer.start(1000);
    legendTimer.setSingleShot(true);
    legendTimer.setInterval(1000 / kMaxLegendUpdatesPerSecond);
    // Stale values wait for the next redraw, to be drawn in the same frame; only when no redraw
    // is coming do they go up on their own.
    connect(&legendTimer, &QTimer::timeout, this, [this] {
        if (legendStale && !pause->isChecked() && !redrawTimer.isActive())
            updateLegend();
    });
    sinceRedraw.start();
    connect(&telemetry, &pidtune::scope::Telemetry::arrived, this, &ScopeWindow::scheduleRedraw);
    // The markers are made again from the whole log, so they wait for the next redraw: a
    // relay that passed a frame on goes back to its lines at once, however many frames the log
    // already holds or however fast pidtune sends them.
    connect(&telemetry, &pidtune::scope::Telemetry::parametersChanged, this, [this] {
        markersStale = true;
        scheduleRedraw();
    });
    connect(windowSeconds, QOverload<double>::of(&QDoubleSpinBox::valueChanged), plot,
            &PlotWidget::setTimeSpan);
    connect(fixedRange, &QCheckBox::toggled, this, [this](bool fixed) {
        if (fixed && !rangeLow->isEnabled()) { // start from what the axis shows now
            rangeLow->setValue(plot->yLow());
            rangeHigh->setValue(plot->yHigh());
        }
        rangeLow->setEnabled(fixed);
        rangeHigh->setEnabled(fixed);
        if (fixed)
            plot->setYRange(rangeLow->value(), rangeHigh->value());
        else
            plot->setAutoscale();
    });
    connect(pause, &QPushButton::toggled, this, &ScopeWindow::setPaused);
    connect(plot, &PlotWidget::cursorsChanged, this, &ScopeWindow::updateCursorReadout);
    updateCursorReadout();
    connect(saveCsvButton, &QPushButton::clicked, this, &ScopeWindow::saveCsv);
    connect(savePngButton, &QPushButton::clicked, this, &ScopeWindow::savePng);
    resize(1000, 600);
}

ScopeWindow::~ScopeWindow() = default;

void ScopeWindow::setWindowSeconds(double seconds)
{
    windowSeconds->setValue(seconds);
}

void ScopeWindow::setFixedRange(double low, double high)
{
    // Decimals enough for a range of 0.0002 to be one, not 0 to 0.
    const int decimals = std::clamp(3 + int(std::ceil(-std::log10(high - low))), 3, 12);
    rangeLow->setDecimals(decimals);
    rangeHigh->setDecimals(decimals);
    rangeLow->setValue(low);
    rangeHigh->setValue(high);
    rangeLow->setEnabled(true); // so that checking the box keeps these
    fixedRange->setChecked(true);
}

void ScopeWindow::showStep(const pidtune::scope::StepMetrics &step)
{
    using pidtune::scope::Cut;
    QString text = tr("t = %1 秒：设定值 %2 → %3\n上升时间 %4 秒\n超调 %5 %\n"
                      "调节时间 %6 秒（误差带 ±%7）\n稳态误差 %8")
                       .arg(QString::number(step.time, 'f', 3), number(step.from), number(step.to),
                            number(step.rise), number(step.overshoot, 'f', 1),
                            number(step.settling), number(step.band), number(step.error));
    if (step.ramp > 0)
        text += tr("\n设定值斜坡 %1 秒").arg(QString::number(step.ramp, 'f', 3));
    const QString why = step.cut == Cut::NextStep ? tr("设定值再次变化")
        : step.cut == Cut::TimeBack               ? tr("设备时间倒退")
        : step.cut == Cut::SourceEnded            ? tr("数据源已结束")
        : step.cut == Cut::Closed                 ? tr("窗口已关闭")
        : step.cut == Cut::TooLong                ? tr("超过可保留的行数")
                                                  : QString();
    if (!why.isEmpty())
        text += tr("\n未稳定即中断：%1").arg(why);
    if (!step.params.isEmpty()) {
        QString params = step.params;
        text += tr("\n参数：%1")
                    .arg(params.replace(QLatin1Char(':'), QStringLiteral(" = "))
                             .replace(QLatin1Char(','), QStringLiteral("，")));
    }
    stepText->setText(text);
    compareStep(step);
}

void ScopeWindow::compareStep(const pidtune::scope::StepMetrics &step)
{
    const SampleBuffer &buffer = telemetry.buffer();
    int response = 0;
    while (response < buffer.seriesCount()
           && buffer.name(response) != QString::fromUtf8(telemetry.responseName()))
        ++response;
    if (response == buffer.seriesCount() || buffer.size() == 0)
        return;
    // Up to the last line before the one that ended it (the next step's first, when that cut it),
    // and from a tenth of its length before it.
    const double last = buffer.time(buffer.size() - 1);
    const double until
        = step.cut == pidtune::scope::Cut::NextStep ? std::nextafter(last, -INFINITY) : last;
    compare->addStep(
        pidtune::scope::cutStep(buffer, response, step, (until - step.time) / 10, until));
}

void ScopeWindow::showLoss(const QString &what)
{
    loss = what;
    updateStatus();
}

void ScopeWindow::showModel(const pidtune::scope::StepModel &model)
{
    tuning->showModel(model);
}

void ScopeWindow::showRelay(const pidtune::scope::RelayTuning &relay)
{
    tuning->showRelay(relay);
}

void ScopeWindow::showPrediction(const pidtune::scope::StepMetrics &step,
                                 const pidtune::scope::Prediction &prediction, const QString &rule)
{
    tuning->showCheck(step, prediction, rule);
}

void ScopeWindow::showSourceEnded(const QString &reason)
{
    sourceState = tr("%1 已关闭：%2").arg(source, reason);
    updateStatus();
}

void ScopeWindow::scheduleRedraw()
{
    if (pause->isChecked() || redrawTimer.isActive())
        return;
    redrawTimer.start(int(std::max<qint64>(0, 1000 / maxRedrawsPerSecond - sinceRedraw.elapsed())));
}

void ScopeWindow::redraw()
{
    sinceRedraw.restart();
    const SampleBuffer &buffer = telemetry.buffer();
    while (plot->curveCount() < buffer.seriesCount())
        addSeries(plot->curveCount());
    if (markersStale)
        updateMarkers();
    if (buffer.size() == 0)
        return;
    // The latest values change with every line, faster than anyone reads them, and each new
    // text lays the legend out again: at 1,000 lines and 50 redraws a second, a twelfth of the
    // scope's CPU time.
    if (legendTimer.isActive()) {
        legendStale = true;
    } else {
        updateLegend();
        legendTimer.start();
    }
    plot->refresh();
    updateCursorReadout();
}

void ScopeWindow::updateMarkers()
{
    markersStale = false;
    using pidtune::scope::Answer;
    const pidtune::scope::ParameterLog &log = telemetry.parameters();
    std::vector<PlotWidget::Marker> markers;
    for (const pidtune::scope::ParameterChange &change : log.changes()) {
        if (std::isnan(change.time))
            continue; // placed by the next line
        PlotWidget::Marker marker;
        marker.time = change.time;
        marker.label = QStringLiteral("%1 = %2").arg(log.label(change.id),
                                                     pidtune::scope::floatText(change.value));
        // Grey while unanswered (or from a device that does not answer), green once the device
        // applied it, red where it refused it or never got it, blue for its own value.
        switch (change.answer) {
        case Answer::None:
            marker.colour = Qt::darkGray;
            marker.style = Qt::DashLine;
            break;
        case Answer::Applied:
            marker.colour = change.sent ? QColor(0, 128, 0) : QColor(Qt::blue);
            marker.style = change.sent ? Qt::SolidLine : Qt::DotLine;
            marker.label += change.sent ? tr(" ✓") : tr("（设备报告）");
            break;
        case Answer::Refused:
            marker.colour = Qt::red;
            marker.label += tr(" 被拒绝：%1").arg(change.reason);
            break;
        case Answer::Missing:
            marker.colour = Qt::red;
            marker.style = Qt::DashLine;
            marker.label += tr(" 未确认");
            break;
        }
        markers.push_back(marker);
    }
    plot->setMarkers(std::move(markers));
}

void ScopeWindow::updateLegend()
{
    legendStale = false;
    const SampleBuffer &buffer = telemetry.buffer();
    for (int series = 0; series < buffer.seriesCount(); ++series) {
        const QString text = QStringLiteral("%1  %2").arg(
            buffer.name(series), QString::number(buffer.latest(series), 'g', 6));
        if (legendRows[size_t(series)]->text() != text)
            legendRows[size_t(series)]->setText(text);
    }
}

void ScopeWindow::addSeries(int series)
{
    const QColor colour = PlotWidget::colour(series);
    plot->addCurve(series, colour);
    auto *row = new QCheckBox(legend->parentWidget());
    QPixmap swatch(12, 12);
    swatch.fill(colour);
    row->setIcon(QIcon(swatch));
    row->setChecked(true);
    row->setToolTip(tr("取消勾选以隐藏该曲线"));
    connect(row, &QCheckBox::toggled, this, [this, series](bool shown) {
        plot->setCurveVisible(series, shown);
        updateCursorReadout();
    });
    legend->addWidget(row);
    legendRows.push_back(row);
}

void ScopeWindow::updateStatus()
{
    QString text = tr("%1 · %2 行/秒 · 已跳过 %3 行")
                       .arg(sourceState)
                       .arg(lineRate)
                       .arg(telemetry.skipped());
    if (!loss.isEmpty())
        text += tr(" · 有数据丢失：%1").arg(loss);
    if (telemetry.tooManySeries())
        text += tr(" · 系列超过 %1 个，其余未显示").arg(SampleBuffer::kMaxSeries);
    if (pause->isChecked())
        text += tr(" · 已暂停，数据仍在记录");
    if (status->text() != text)
        status->setText(text);
}

void ScopeWindow::updateCursorReadout()
{
    const double a = plot->cursorTime(PlotWidget::CursorA);
    const double b = plot->cursorTime(PlotWidget::CursorB);
    QString text;
    if (std::isnan(a) && std::isnan(b)) {
        text = tr("光标：单击放置 A，右键或 Shift+单击放置 B");
    } else {
        // Times to the microsecond; values as the legend gives them. A value that cannot be
        // read there (no line on one side, a gap) is a dash.
        const auto time = [](double t) {
            return std::isfinite(t) ? QString::number(t, 'f', 6) : QStringLiteral("—");
        };
        const auto value = [](double v) {
            return std::isfinite(v) ? QString::number(v, 'g', 6) : QStringLiteral("—");
        };
        text = tr("A %1 秒 · B %2 秒 · Δt %3 秒").arg(time(a), time(b), time(b - a));
        const SampleBuffer &buffer = telemetry.buffer();
        for (int curve = 0; curve < plot->curveCount(); ++curve) {
            if (!plot->isCurveVisible(curve))
                continue;
            const int series = plot->curveSeries(curve);
            const auto at = [&](double t) {
                return std::isnan(t) ? t : pidtune::scope::valueAt(buffer, series, t);
            };
            const double atA = at(a), atB = at(b);
            text += tr("\n%1：A %2 · B %3 · B−A %4")
                        .arg(buffer.name(series), value(atA), value(atB), value(atB - atA));
        }
    }
    if (cursorReadout->text() != text)
        cursorReadout->setText(text);
}

void ScopeWindow::setPaused(bool paused)
{
    // While paused the time axis zooms and pans; going on returns it to the newest lines.
    plot->setZoomable(paused);
    pause->setText(paused ? tr("继续") : tr("暂停"));
    redrawTimer.stop();
    updateStatus();
    if (!paused)
        redraw();
}

void ScopeWindow::saveCsv()
{
    const QString path = QFileDialog::getSaveFileName(
        this, tr("保存 CSV"), QStringLiteral("scope.csv"), tr("CSV 文件 (*.csv)"));
    if (path.isEmpty())
        return;
    QString error;
    const SampleBuffer &buffer = telemetry.buffer();
    if (pidtune::scope::writeCsv(buffer, path, &error, &telemetry.parameters())) {
        // The file holds the lines kept in full; older ones are only summaries for the chart.
        QString saved = tr("已保存 %1 行到 %2").arg(buffer.size()).arg(path);
        if (buffer.oldestLine() > 0)
            saved += tr("（全分辨率的最近 %1 秒；更早的 %2 行只存有供绘图的最小/最大值，未保存）")
                         .arg(buffer.timeOf(buffer.appended() - 1) - buffer.time(0), 0, 'f', 1)
                         .arg(buffer.oldestLine());
        statusBar()->showMessage(saved, 5000);
    } else {
        statusBar()->showMessage(tr("无法保存 %1：%2").arg(path, error));
    }
}

void ScopeWindow::savePng()
{
    const QString path = QFileDialog::getSaveFileName(
        this, tr("保存 PNG"), QStringLiteral("scope.png"), tr("PNG 图片 (*.png)"));
    if (path.isEmpty())
        return;
    if (plot->grab().save(path, "PNG"))
        statusBar()->showMessage(tr("已保存 %1").arg(path), 5000);
    else
        statusBar()->showMessage(tr("无法保存 %1").arg(path));
}
