// SPDX-License-Identifier: MIT
// pidtune-scope: the chart drawn a few new columns at a time is the chart drawn whole.
#include "plotwidget.h"

#include <QtTest>
#include <QtWidgets>

using namespace pidtune::scope;

class ScopePlotTest : public QObject
{
    Q_OBJECT

private slots:
    void redrawAfterNewLinesIsAFullRedraw_data();
    void redrawAfterNewLinesIsAFullRedraw();
    void noLineAcrossAGap();
};

void ScopePlotTest::redrawAfterNewLinesIsAFullRedraw_data()
{
    QTest::addColumn<int>("rawBits"); // lines held in full, as a power of two
    QTest::addColumn<int>("linesPerSecond");
    QTest::addColumn<double>("seconds"); // shown
    QTest::addColumn<int>("batch"); // lines between redraws
    QTest::addColumn<double>("gaps"); // the chance that a line starts a run of NaN
    QTest::addColumn<double>("fixed"); // a fixed range of -fixed..fixed; 0: scaled
    QTest::newRow("noise, less than a column a redraw") << 14 << 1000 << 2.0 << 3 << 0.0 << 0.0;
    QTest::newRow("noise, a few columns a redraw") << 14 << 1000 << 2.0 << 40 << 0.0 << 0.0;
    QTest::newRow("sparse lines, joined across columns") << 14 << 10 << 20.0 << 1 << 0.0 << 0.0;
    QTest::newRow("NaN runs") << 14 << 1000 << 1.0 << 17 << 0.02 << 0.0;
    QTest::newRow("a fixed range the lines leave") << 14 << 1000 << 2.0 << 25 << 0.0 << 1.5;
    QTest::newRow("from summaries") << 8 << 2000 << 3.0 << 37 << 0.005 << 0.0;
    QTest::newRow("more than the view a redraw") << 14 << 1000 << 0.5 << 700 << 0.0 << 0.0;
}

void ScopePlotTest::redrawAfterNewLinesIsAFullRedraw()
{
    QFETCH(int, rawBits);
    QFETCH(int, linesPerSecond);
    QFETCH(double, seconds);
    QFETCH(int, batch);
    QFETCH(double, gaps);
    QFETCH(double, fixed);
    SampleBuffer buffer(rawBits, 18);
    buffer.addSeries(QStringLiteral("a"));
    buffer.addSeries(QStringLiteral("b"));
    const auto setUp = [&](PlotWidget &plot) {
        plot.resize(320, 200);
        plot.setBuffer(&buffer);
        plot.addCurve(0, PlotWidget::colour(0));
        plot.addCurve(1, PlotWidget::colour(1));
        plot.setTimeSpan(seconds);
        if (fixed > 0)
            plot.setYRange(-fixed, fixed);
    };
    QWidget window;
    auto *plot = new PlotWidget(&window);
    setUp(*plot);
    window.resize(plot->size());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QRandomGenerator random(29);
    int gapLeft = 0;
    bool summarised = false;
    for (int line = 0, redraw = 0; line < 8000; ++redraw) {
        // A noisy wave, a step every second, and b in every third line only.
        for (int end = line + batch; line < end; ++line) {
            const double time = 5 + double(line) / linesPerSecond;
            if (gapLeft == 0 && random.generateDouble() < gaps)
                gapLeft = random.bounded(1, 60);
            const double values[] = {gapLeft-- > 0 ? qQNaN()
                                                   : 2 * std::sin(time) + random.generateDouble()
                                             - 0.5 + (line % 97 == 0),
                                     line % 3 ? SampleBuffer::absent() : double(int(time) % 3)};
            buffer.append(time, values);
        }
        plot->refresh();
        QCoreApplication::processEvents();
        summarised = summarised || plot->isSummarised();
        if (redraw % 25 != 24)
            continue;
        // What the window's pixels hold now, and the same chart drawn from scratch.
        const QImage drawn = window.screen()
                                 ->grabWindow(window.winId(), 0, 0, plot->width(), plot->height())
                                 .toImage()
                                 .convertToFormat(QImage::Format_RGB32);
        PlotWidget whole;
        setUp(whole);
        const QImage expected = whole.grab().toImage().convertToFormat(QImage::Format_RGB32);
        if (drawn != expected) {
            drawn.save(QDir::temp().filePath(QStringLiteral("scope-drawn.png")));
            expected.save(QDir::temp().filePath(QStringLiteral("scope-whole.png")));
            QFAIL(qPrintable(QStringLiteral("line %1: the chart differs from one drawn whole "
                                            "(scope-drawn.png, scope-whole.png in %2)")
                                 .arg(line)
                                 .arg(QDir::tempPath())));
        }
    }
    QCOMPARE(summarised, rawBits < 10);
}

// A NaN in the column of the last value, then no line for fifty columns, then the line again
// far below: no line joins the two across the gap.
void ScopePlotTest::noLineAcrossAGap()
{
    SampleBuffer buffer;
    buffer.addSeries(QStringLiteral("y"));
    PlotWidget plot;
    plot.resize(320, 200);
    plot.setBuffer(&buffer);
    plot.addCurve(0, PlotWidget::colour(0));
    plot.setTimeSpan(1);
    plot.setYRange(-1, 1);
    // In columns of the view, which start at the first line's time; none on a column's edge.
    const double column = 1.0 / plot.plotArea().width();
    const auto append = [&](double at, double value) {
        buffer.append(at * column, &value);
    };
    for (int at = 0; at <= 100; at += 2)
        append(at + (at > 0 ? 0.3 : 0.0), 0.8);
    append(100.7, qQNaN());
    for (int at = 150; at <= 250; at += 2)
        append(at + 0.3, -0.8);
    plot.refresh();
    const QImage drawn = plot.grab().toImage();
    const QRect area = plot.plotArea();
    // Where the gap is, none of the curve's colour; where the line is again, some.
    const auto drawnAt = [&](double at) {
        const int x = area.left() + int(at - plot.xLow() / column);
        int count = 0;
        for (int row = area.top(); row <= area.bottom(); ++row)
            count += drawn.pixelColor(x, row) == PlotWidget::colour(0);
        return count;
    };
    QCOMPARE(drawnAt(125.5), 0);
    QVERIFY(drawnAt(200.5) > 0);
}

QTEST_MAIN(ScopePlotTest)
#include "tst_scope_plot.moc"
