// SPDX-License-Identifier: MIT
// pidtune-scope: what the scope's window shows of its lines.
#include "plotwidget.h"
#include "scopewindow.h"
#include "telemetry.h"

#include <QtTest>
#include <QtWidgets>

#include <cmath>

using namespace pidtune::scope;

class ScopeWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void windowShowsTheLatest();
    void constantSignal_data();
    void constantSignal();
    void marksParameters();
    void measuresByHand();
};

void ScopeWindowTest::windowShowsTheLatest()
{
    Telemetry telemetry({"t", 1e-3, "sp", "y"});
    ScopeWindow window(telemetry, QStringLiteral("test"));
    connect(&telemetry, &Telemetry::stepMeasured, &window, &ScopeWindow::showStep);
    window.setWindowSeconds(2);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *plot = window.findChild<PlotWidget *>();
    // Kp 5 on a tau of 0.25 s: y settles at 5/6 of a step from 0 to 48; a gap in it later.
    for (int ms = 0; ms <= 6000; ms += 10) {
        const double y = ms < 1000 ? 0 : 40 * (1 - std::exp((1000 - ms) / 250.0));
        telemetry.feed(QStringLiteral("t=%1 sp=%2 y=%3 u=-7\n")
                           .arg(ms)
                           .arg(ms < 1000 ? 0 : 48)
                           .arg(ms >= 5000 && ms < 5300 ? qQNaN() : y)
                           .toLatin1());
    }
    telemetry.feed("t=6010 sp=48 y=40\n"); // a series' latest value stays until the next
    QTRY_COMPARE(plot->curveCount(), 3);
    QTRY_VERIFY(plot->shown(1).hasValues());
    // The last 2 s, scaled out to whole ticks around all that is shown.
    QVERIFY(std::abs(plot->xLow() - 4.01) < 0.01);
    QCOMPARE(qMakePair(plot->yLow(), plot->yHigh()), qMakePair(-10.0, 50.0));
    QTRY_VERIFY(window.findChild<QLabel *>(QStringLiteral("step"))
                    ->text()
                    .contains(QStringLiteral("\n超调 0.0 %\n")));
    // The step goes to the comparison, its figures in its legend entry.
    const auto *compared = window.findChild<QListWidget *>(QStringLiteral("compareLegend"));
    QCOMPARE(compared->count(), 1);
    QVERIFY2(compared->item(0)->text().contains(QStringLiteral("0 → 48 · 参数未知 · 上升 ")),
             qPrintable(compared->item(0)->text()));
    QList<QCheckBox *> legend = window.findChildren<QCheckBox *>();
    legend.removeOne(window.findChild<QCheckBox *>(QStringLiteral("fixedRange")));
    QCOMPARE(legend.last()->text(), QStringLiteral("u  -7"));
    legend.last()->click();
    QTRY_COMPARE(qMakePair(plot->yLow(), plot->yHigh()), qMakePair(38.0, 48.0));
    window.setFixedRange(0, 60);
    QTRY_COMPARE(qMakePair(plot->yLow(), plot->yHigh()), qMakePair(0.0, 60.0));
    QVERIFY(!plot->isCurveVisible(2) && plot->isCurveVisible(1));
    // Drawn bottom up: the settled y (40) lies in the upper half of the chart.
    const QImage drawn = plot->grab().toImage();
    const QRect area = plot->plotArea();
    int upper = 0, lower = 0;
    for (int row = area.top() + 1; row < area.bottom(); ++row)
        (row < area.center().y() ? upper : lower)
            += drawn.pixelColor(area.right() - 2, row) == PlotWidget::colour(1);
    QVERIFY(upper > 0 && lower == 0);
    // NaN from 5 s to 5.3 s: a gap, not a line across.
    const int gap = area.left() + int((5.15 - 4.01) / 2 * area.width());
    for (int row = area.top() + 1; row < area.bottom(); ++row)
        QVERIFY(drawn.pixelColor(gap, row) != PlotWidget::colour(1));
    QCOMPARE(qMakePair(PlotWidget::tickStep(30), PlotWidget::tickStep(11)), qMakePair(5.0, 2.0));
    // The lines of the last second, then a second with none.
    const auto *status = window.findChild<QLabel *>(QStringLiteral("status"));
    QTRY_VERIFY_WITH_TIMEOUT(status->text().contains(QStringLiteral(" · 602 行/秒")), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(status->text().contains(QStringLiteral(" · 0 行/秒")), 3000);

    // Paused, the view holds still while the lines go on into the buffer; resumed, it shows them.
    window.findChild<QPushButton *>(QStringLiteral("pause"))->click();
    QVERIFY(status->text().endsWith(QStringLiteral(" · 已暂停，数据仍在记录")));
    telemetry.feed("t=6020 sp=48 y=80\n");
    const auto shown = [&] {
        return plot->shown(1).high == 80;
    };
    QVERIFY(!QTest::qWaitFor(shown, 200));
    // Two seconds pass paused: resumed, the rate is that of the last second, not of the pause.
    telemetry.feed(QByteArray("t=6020 sp=48 y=80\n").repeated(5000));
    QSignalSpy second(window.findChild<QTimer *>(QStringLiteral("statusTimer")), &QTimer::timeout);
    QVERIFY(second.wait(2000) && second.wait(2000));
    window.findChild<QPushButton *>(QStringLiteral("pause"))->click();
    QVERIFY(shown());
    QVERIFY2(status->text().contains(QStringLiteral(" · 0 行/秒")), qPrintable(status->text()));
    QVERIFY(second.wait(2000) && status->text().contains(QStringLiteral(" · 0 行/秒")));
    // The legend shows the last value also when it came right after the one before it.
    telemetry.feed("t=6030 sp=48 y=81 u=5\n");
    telemetry.feed("t=6040 sp=48 y=82 u=6\n");
    QTRY_COMPARE(legend.last()->text(), QStringLiteral("u  6"));
    // A range of 0.0002 is one, not 0 to 0.
    window.setFixedRange(0, 0.0002);
    QTRY_COMPARE(qMakePair(plot->yLow(), plot->yHigh()), qMakePair(0.0, 0.0002));
}

void ScopeWindowTest::constantSignal_data()
{
    QTest::addColumn<double>("value");
    QTest::newRow("5: one either side") << 5.0;
    QTest::newRow("-1e17: one is below its precision") << -1e17;
}

// A signal that never changes has an axis around it, not a range of nothing.
void ScopeWindowTest::constantSignal()
{
    QFETCH(double, value);
    Telemetry telemetry({"t", 1e-3, "sp", "y"});
    ScopeWindow window(telemetry, QStringLiteral("test"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    telemetry.feed(QStringLiteral("t=0 c=%1\nt=10 c=%1\n").arg(value).toLatin1());
    auto *plot = window.findChild<PlotWidget *>();
    QTRY_VERIFY(plot->yLow() < value && value < plot->yHigh());
    QVERIFY(plot->yHigh() - plot->yLow() <= std::max(2.0, std::abs(value) * 1e-2));
}

// Each frame a line across the chart at the time it went out, labelled with its parameter and
// value, and the device's answer to it; one the device refused stands out from those it applied.
void ScopeWindowTest::marksParameters()
{
    Telemetry telemetry({"t", 1e-3, "sp", "y"});
    telemetry.parameters().setNames({{1, "Kp"}});
    ScopeWindow window(telemetry, QStringLiteral("test"));
    window.setWindowSeconds(1);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *plot = window.findChild<PlotWidget *>();
    for (int ms = 0; ms < 1000; ms += 10) {
        if (ms == 200)
            telemetry.parameterSent(1, 5);
        if (ms == 600) {
            telemetry.parameterSent(1, -150);
            telemetry.parameterSent(3, 0.5);
        }
        telemetry.feed(QStringLiteral("t=%1 y=%2\n").arg(ms).arg(ms % 7).toLatin1());
        if (ms == 300)
            telemetry.feed("param id=1 value=5\n");
    }
    telemetry.feed("reject id=1 value=-150 reason=range\n");
    QTRY_COMPARE(plot->markers().size(), size_t(3));
    QTRY_VERIFY(plot->xOfTime(0.6) >= 0);
    const std::vector<PlotWidget::Marker> &markers = plot->markers();
    QCOMPARE(markers[0].label, QStringLiteral("Kp = 5 ✓"));
    QCOMPARE(markers[1].label, QStringLiteral("Kp = -150 被拒绝：range"));
    QCOMPARE(markers[2].label, QStringLiteral("3 = 0.5"));
    QCOMPARE(qMakePair(markers[0].time, markers[1].time), qMakePair(0.2, 0.6));
    QVERIFY(markers[0].colour != markers[1].colour && markers[1].colour != markers[2].colour);
    // Drawn where the time axis puts 0.2 s, below the labels.
    const QImage drawn = plot->grab().toImage();
    const QRect area = plot->plotArea();
    QCOMPARE(drawn.pixelColor(plot->xOfTime(0.2), area.bottom() - 2), markers[0].colour);
}

// A series' value as the cursors' readout gives it, at A, at B and B - A; NaN for a dash.
static QVector<double> readout(const QLabel *label, const QString &series)
{
    const QRegularExpression row(series + QStringLiteral("：A (\\S+) · B (\\S+) · B−A (\\S+)"));
    const QRegularExpressionMatch match = row.match(label->text());
    QVector<double> values;
    for (int field = 1; match.hasMatch() && field <= 3; ++field) {
        bool ok = false;
        const double value = match.captured(field).toDouble(&ok);
        values.append(ok ? value : qQNaN());
    }
    return values;
}

static void sendMouse(QWidget *widget, QEvent::Type type, int x, Qt::MouseButton button)
{
    const QPointF at(x, widget->height() / 2);
    QMouseEvent event(type, at, widget->mapToGlobal(at.toPoint()), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Cursors on y = 2t and on a series with a gap: the readings are the series' own values at the
// times of the pixels clicked; paused, the wheel zooms about the mouse, a drag pans, and going on
// returns to the newest lines.
void ScopeWindowTest::measuresByHand()
{
    Telemetry telemetry({"t", 1e-3, "sp", "y"});
    ScopeWindow window(telemetry, QStringLiteral("test"));
    window.setWindowSeconds(2);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *plot = window.findChild<PlotWidget *>();
    const auto *label = window.findChild<QLabel *>(QStringLiteral("cursorReadout"));
    const auto feed = [&](int from, int to) {
        for (int ms = from; ms < to; ++ms)
            telemetry.feed(QStringLiteral("t=%1 y=%2 g=%3\n")
                               .arg(ms)
                               .arg(2e-3 * ms)
                               .arg(ms >= 500 && ms < 700 ? qQNaN() : 1.0)
                               .toLatin1());
    };
    feed(0, 2001);
    QTRY_COMPARE(plot->curveCount(), 2);
    QTRY_VERIFY(plot->xOfTime(2.0) >= 0);
    const QRect area = plot->plotArea();
    // The time at a pixel's middle, from the axis' ends.
    const auto timeAt = [&](int x) {
        return plot->xLow()
            + (x - area.left() + 0.5) * (plot->xHigh() - plot->xLow()) / area.width();
    };
    const double column = (plot->xHigh() - plot->xLow()) / area.width();
    const int xA = area.left() + area.width() / 8, xB = area.left() + area.width() * 3 / 4;
    QTest::mouseClick(plot, Qt::LeftButton, {}, QPoint(xA, area.center().y()));
    QTest::mouseClick(plot, Qt::LeftButton, Qt::ShiftModifier, QPoint(xB, area.center().y()));
    const double a = plot->cursorTime(PlotWidget::CursorA);
    const double b = plot->cursorTime(PlotWidget::CursorB);
    QVERIFY(std::abs(a - timeAt(xA)) <= column / 2 && std::abs(b - timeAt(xB)) <= column / 2);
    QVector<double> y = readout(label, QStringLiteral("y"));
    QCOMPARE(y.size(), 3);
    for (int field = 0; field < 3; ++field)
        QVERIFY2(std::abs(y[field] - 2 * QVector<double> {a, b, b - a}[field]) <= 1e-5,
                 qPrintable(label->text()));
    QVERIFY(readout(label, QStringLiteral("g")) == (QVector<double> {1, 1, 0}));
    // In the gap, no value and no difference; a hidden series leaves the readout.
    QTest::mouseClick(plot, Qt::RightButton, {}, QPoint(plot->xOfTime(0.6), area.center().y()));
    const QVector<double> g = readout(label, QStringLiteral("g"));
    QVERIFY2(g.size() == 3 && g[0] == 1 && std::isnan(g[1]) && std::isnan(g[2]),
             qPrintable(label->text()));
    QList<QCheckBox *> legend = window.findChildren<QCheckBox *>();
    legend.last()->click();
    QVERIFY(readout(label, QStringLiteral("g")).isEmpty());

    window.findChild<QPushButton *>(QStringLiteral("pause"))->click();
    feed(2001, 2500);
    // A notch of the wheel: a quarter closer, the time under the mouse stays under it.
    const double under = plot->timeAtX(xB), span = plot->xHigh() - plot->xLow();
    const QPointF at(xB, area.center().y());
    QWheelEvent wheel(at, plot->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(plot, &wheel);
    QVERIFY(std::abs(plot->timeAtX(xB) - under) <= 1e-9);
    QVERIFY(std::abs((plot->xHigh() - plot->xLow()) * 1.25 - span) <= 1e-9);
    // Dragged 40 pixels to the right: 40 columns earlier.
    const double low = plot->xLow(), moved = 40 * (plot->xHigh() - low) / area.width();
    const int from = area.left() + 10;
    sendMouse(plot, QEvent::MouseButtonPress, from, Qt::LeftButton);
    sendMouse(plot, QEvent::MouseMove, from + 20, Qt::NoButton);
    sendMouse(plot, QEvent::MouseMove, from + 40, Qt::NoButton);
    sendMouse(plot, QEvent::MouseButtonRelease, from + 40, Qt::LeftButton);
    QVERIFY(std::abs(plot->xLow() - (low - moved)) <= 1e-9);
    QCOMPARE(plot->cursorTime(PlotWidget::CursorA), a); // a pan places no cursor
    window.findChild<QPushButton *>(QStringLiteral("pause"))->click();
    QVERIFY(plot->isFollowingLive());
    QTRY_VERIFY(plot->xOfTime(2.499) >= 0);
}

QTEST_MAIN(ScopeWindowTest)
#include "tst_scope_window.moc"
