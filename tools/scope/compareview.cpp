// SPDX-License-Identifier: MIT
#include "compareview.h"

#include "plotwidget.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

using pidtune::scope::StepCurve;

namespace {

QString figure(double value, int precision = 4)
{
    return std::isfinite(value) ? QString::number(value, 'g', precision) : QStringLiteral("—");
}

} // namespace

// The curves drawn over axes scaled to all of them: seconds since the step across, the value up.
class CompareChart : public QWidget
{
public:
    explicit CompareChart(CompareView *view) : QWidget(view), view(view)
    {
        setMinimumSize(480, 320);
    }
    bool normalised = true;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        const QFontMetrics metrics = fontMetrics();
        const QRect area
            = rect().adjusted(metrics.horizontalAdvance(QStringLiteral("-0.00000")) + 8, 8, -12,
                              -2 * metrics.height() - 8);
        const auto &curves = view->comparison().curves();
        double left = INFINITY, right = -INFINITY, low = INFINITY, high = -INFINITY;
        std::vector<std::vector<QPointF>> shown;
        for (const StepCurve &curve : curves) {
            shown.push_back(pidtune::scope::overlay(curve, normalised));
            for (const QPointF &point : shown.back()) {
                if (!std::isfinite(point.y()))
                    continue;
                left = std::min(left, point.x());
                right = std::max(right, point.x());
                low = std::min(low, point.y());
                high = std::max(high, point.y());
            }
        }
        painter.setPen(Qt::black);
        painter.drawRect(area.adjusted(-1, -1, 0, 0));
        if (!(right > left)) {
            painter.drawText(area, Qt::AlignCenter, CompareView::tr("（尚无阶跃）"));
            return;
        }
        if (!(high > low)) {
            low -= 1;
            high += 1;
        }
        const double xStep = PlotWidget::tickStep(right - left),
                     yStep = PlotWidget::tickStep(high - low);
        low = std::floor(low / yStep) * yStep;
        high = std::ceil(high / yStep) * yStep;
        const auto at = [&](const QPointF &point) {
            return QPointF(area.left() + (point.x() - left) / (right - left) * area.width(),
                           area.bottom() - (point.y() - low) / (high - low) * area.height());
        };
        painter.setPen(QColor(220, 220, 220));
        for (double tick = std::ceil(left / xStep); tick * xStep <= right; ++tick) {
            const double x = at({tick * xStep, low}).x();
            painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
            const QString text = QString::number(std::abs(tick) < 0.5 ? 0 : tick * xStep, 'g', 6);
            painter.setPen(Qt::black);
            painter.drawText(QPointF(x - metrics.horizontalAdvance(text) / 2.0,
                                     area.bottom() + 3 + metrics.ascent()),
                             text);
            painter.setPen(QColor(220, 220, 220));
        }
        for (double tick = std::ceil(low / yStep - 1e-9); tick * yStep <= high + yStep * 1e-9;
             ++tick) {
            const double y = at({left, tick * yStep}).y();
            painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
            const QString text = QString::number(std::abs(tick) < 0.5 ? 0 : tick * yStep, 'g', 6);
            painter.setPen(Qt::black);
            painter.drawText(QPointF(area.left() - metrics.horizontalAdvance(text) - 4,
                                     y + metrics.ascent() / 2.0),
                             text);
            painter.setPen(QColor(220, 220, 220));
        }
        painter.setPen(Qt::black);
        painter.drawText(QRect(area.left(), area.bottom() + metrics.height() + 4, area.width(),
                               metrics.height()),
                         Qt::AlignHCenter,
                         normalised ? CompareView::tr("阶跃后的时间（秒）；纵轴按设定值阶跃归一化")
                                    : CompareView::tr("阶跃后的时间（秒）"));
        painter.setClipRect(area);
        painter.setRenderHint(QPainter::Antialiasing);
        for (size_t index = 0; index < shown.size(); ++index) {
            QPainterPath path;
            bool drawing = false;
            for (const QPointF &point : shown[index]) {
                if (!std::isfinite(point.y())) {
                    drawing = false; // a gap stays a gap
                } else if (drawing) {
                    path.lineTo(at(point));
                } else {
                    path.moveTo(at(point));
                    drawing = true;
                }
            }
            const bool reference = int(index) == view->comparison().pinned();
            painter.setPen(QPen(view->colour(int(index)), reference ? 2.5 : 1.5));
            painter.drawPath(path);
        }
    }

private:
    CompareView *view;
};

CompareView::CompareView(QWidget *parent) : QWidget(parent)
{
    auto *rows = new QVBoxLayout(this);
    auto *controls = new QHBoxLayout;
    rows->addLayout(controls);
    controls->addWidget(new QLabel(tr("最近"), this));
    count = new QSpinBox(this);
    count->setObjectName(QStringLiteral("compareCount"));
    count->setRange(1, 32);
    count->setValue(pidtune::scope::StepComparison::kDefaultCount);
    controls->addWidget(count);
    controls->addWidget(new QLabel(tr("次阶跃"), this));
    normalise = new QCheckBox(tr("归一化（0→1）"), this);
    normalise->setObjectName(QStringLiteral("normalise"));
    normalise->setChecked(true);
    controls->addWidget(normalise);
    controls->addStretch();
    pin = new QPushButton(tr("设为参考"), this);
    pin->setObjectName(QStringLiteral("pin"));
    pin->setEnabled(false);
    controls->addWidget(pin);
    auto *png = new QPushButton(tr("保存 PNG…"), this);
    auto *csv = new QPushButton(tr("保存 CSV…"), this);
    controls->addWidget(png);
    controls->addWidget(csv);
    chart = new CompareChart(this);
    rows->addWidget(chart, 1);
    legend = new QListWidget(this);
    legend->setObjectName(QStringLiteral("compareLegend"));
    legend->setMaximumHeight(8 * fontMetrics().height());
    rows->addWidget(legend);

    connect(count, QOverload<int>::of(&QSpinBox::valueChanged), this, [this](int latest) {
        steps.setCount(latest);
        showCurves();
    });
    connect(normalise, &QCheckBox::toggled, this, [this](bool on) {
        chart->normalised = on;
        chart->update();
    });
    connect(legend, &QListWidget::currentRowChanged, this, [this](int row) {
        pin->setEnabled(row >= 0);
        pin->setText(row >= 0 && row == steps.pinned() ? tr("取消参考") : tr("设为参考"));
    });
    connect(pin, &QPushButton::clicked, this, [this] {
        const int row = legend->currentRow();
        steps.pin(row == steps.pinned() ? -1 : row);
        showCurves();
    });
    connect(png, &QPushButton::clicked, this, &CompareView::savePng);
    connect(csv, &QPushButton::clicked, this, &CompareView::saveCsv);
}

void CompareView::addStep(StepCurve curve)
{
    steps.add(std::move(curve));
    showCurves();
}

QColor CompareView::colour(int curve) const
{
    return curve == steps.pinned() ? QColor(Qt::black) : PlotWidget::colour(curve);
}

QString CompareView::legendText(const StepCurve &curve, bool reference)
{
    const pidtune::scope::StepMetrics &step = curve.step;
    QString params = step.params;
    params.replace(QLatin1Char(':'), QStringLiteral(" = "))
        .replace(QLatin1Char(','), QStringLiteral("，"));
    return tr("%1t = %2 秒 %3 → %4 · %5 · 上升 %6 秒 · 超调 %7 % · 调节 %8 秒 · 稳态误差 %9")
        .arg(reference ? tr("【参考】") : QString(), QString::number(step.time, 'f', 3),
             figure(step.from), figure(step.to), params.isEmpty() ? tr("参数未知") : params,
             figure(step.rise), figure(step.overshoot, 3), figure(step.settling),
             figure(step.error));
}

void CompareView::showCurves()
{
    const int current = legend->currentRow();
    legend->clear();
    const auto &curves = steps.curves();
    for (size_t index = 0; index < curves.size(); ++index) {
        QPixmap swatch(12, 12);
        swatch.fill(colour(int(index)));
        legend->addItem(new QListWidgetItem(
            QIcon(swatch), legendText(curves[index], int(index) == steps.pinned())));
    }
    legend->setCurrentRow(std::min(current, legend->count() - 1));
    chart->update();
}

void CompareView::savePng()
{
    const QString path = QFileDialog::getSaveFileName(
        this, tr("保存 PNG"), QStringLiteral("steps.png"), tr("PNG 图片 (*.png)"));
    if (path.isEmpty())
        return;
    // The chart with its legend below it.
    QImage image(chart->width(),
                 chart->height() + legend->count() * (fontMetrics().height() + 4) + 8,
                 QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    chart->render(&painter);
    for (int row = 0; row < legend->count(); ++row) {
        const int y = chart->height() + 4 + row * (fontMetrics().height() + 4);
        painter.fillRect(8, y + 2, 12, fontMetrics().height() - 4, colour(row));
        painter.setPen(Qt::black);
        painter.drawText(28, y + fontMetrics().ascent(), legend->item(row)->text());
    }
    painter.end();
    emit saved(image.save(path, "PNG") ? tr("已保存 %1").arg(path) : tr("无法保存 %1").arg(path));
}

void CompareView::saveCsv()
{
    const QString path = QFileDialog::getSaveFileName(
        this, tr("保存 CSV"), QStringLiteral("steps.csv"), tr("CSV 文件 (*.csv)"));
    if (path.isEmpty())
        return;
    QString error;
    emit saved(steps.writeCsv(path, normalise->isChecked(), &error)
                   ? tr("已保存 %1").arg(path)
                   : tr("无法保存 %1：%2").arg(path, error));
}
