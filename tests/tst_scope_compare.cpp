// SPDX-License-Identifier: MIT
// pidtune-scope: what the cursors read off the series, and steps laid over each other, against
// the analytic curves they were made from.
#include "comparison.h"
#include "telemetry.h"

#include <QtTest>

#include <cmath>
#include <functional>

using namespace pidtune::scope;

namespace {

// Lines "t=<s> sp=... y=..." of y(t), sp(t) every `period` seconds over [0, end).
QByteArray lines(
    double end, double period, const std::function<double(double)> &y,
    const std::function<double(double)> &sp = [](double) { return 0.0; })
{
    QByteArray text;
    for (int n = 0; n * period < end; ++n) {
        const double t = n * period;
        text += "t=" + QByteArray::number(t, 'g', 12) + " sp=" + QByteArray::number(sp(t), 'g', 12)
            + " y=" + QByteArray::number(y(t), 'g', 17) + '\n';
    }
    return text;
}

int seriesNamed(const SampleBuffer &buffer, const char *name)
{
    int series = 0;
    while (series < buffer.seriesCount() && buffer.name(series) != QLatin1String(name))
        ++series;
    return series;
}

} // namespace

class ScopeCompareTest : public QObject
{
    Q_OBJECT

private slots:
    void readsValuesAtATime_data();
    void readsValuesAtATime();
    void laysStepsOverEachOther_data();
    void laysStepsOverEachOther();
    void keepsTheReference();
};

void ScopeCompareTest::readsValuesAtATime_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<double>("time");
    QTest::addColumn<double>("expected"); // NaN: none
    QTest::addColumn<double>("tolerance");
    const double pi = std::acos(-1.0);
    const QByteArray ramp = lines(1, 1e-3, [](double t) { return 2 * t; });
    // Straight between lines: off a sine by at most (line spacing)^2 / 8 times its curvature.
    const QByteArray sine = lines(1, 1e-3, [&](double t) { return std::sin(10 * pi * t); });
    const double bound = 1e-6 / 8 * 100 * pi * pi;
    QTest::newRow("ramp, between lines") << ramp << 0.3335 << 0.667 << 1e-12;
    QTest::newRow("ramp, at a line") << ramp << 0.25 << 0.5 << 0.0;
    QTest::newRow("sine, between lines")
        << sine << 0.1234567 << std::sin(10 * pi * 0.1234567) << bound;
    QTest::newRow("sine beside its peak")
        << sine << 0.05025 << std::sin(10 * pi * 0.05025) << bound;
    QTest::newRow("before the first line") << ramp << -0.001 << qQNaN() << 0.0;
    QTest::newRow("after the last line") << ramp << 1.5 << qQNaN() << 0.0;
    QTest::newRow("beside a gap") << QByteArray("t=0 y=1\nt=1 y=nan\nt=2 y=3\n") << 0.5 << qQNaN()
                                  << 0.0;
    QTest::newRow("across lines without it")
        << QByteArray("t=0 y=1\nt=1 u=5\nt=2 u=6\nt=4 y=3\n") << 3.0 << 2.5 << 1e-12;
}

void ScopeCompareTest::readsValuesAtATime()
{
    QFETCH(QByteArray, input);
    QFETCH(double, time);
    QFETCH(double, expected);
    QFETCH(double, tolerance);
    Telemetry telemetry({"t", 1, "sp", "y"});
    telemetry.feed(input);
    const double value = valueAt(telemetry.buffer(), seriesNamed(telemetry.buffer(), "y"), time);
    if (std::isnan(expected))
        QVERIFY2(std::isnan(value), qPrintable(QString::number(value)));
    else
        QVERIFY2(std::abs(value - expected) <= tolerance,
                 qPrintable(QStringLiteral("%1, not %2").arg(value, 0, 'g', 17).arg(expected)));
}

void ScopeCompareTest::laysStepsOverEachOther_data()
{
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<double>("rest"); // where the response rests before the step
    QTest::addColumn<double>("tau");
    QTest::addColumn<double>("zeta"); // 1 or more: first order with tau
    QTest::addColumn<double>("period"); // between lines
    QTest::newRow("0 -> 50, tau 0.1 s") << 0.0 << 50.0 << 0.0 << 0.1 << 1.0 << 1e-3;
    QTest::newRow("50 -> 10, tau 0.3 s, down") << 50.0 << 10.0 << 50.0 << 0.3 << 1.0 << 1e-3;
    QTest::newRow("from an offset, 20 ms lines") << 5.0 << 8.0 << 4.5 << 0.5 << 1.0 << 0.02;
    QTest::newRow("zeta 0.3 at 50,000 lines/s: its peak kept")
        << 0.0 << 1.0 << 0.0 << 0.05 << 0.3 << 2e-5;
}

void ScopeCompareTest::laysStepsOverEachOther()
{
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(double, rest);
    QFETCH(double, tau);
    QFETCH(double, zeta);
    QFETCH(double, period);
    // The step at t = 1 s; the response ends at the new set-point. Normalised: 1 - e^(-t/tau),
    // or for zeta < 1 the second-order step of natural frequency 1/tau.
    const double wd = std::sqrt(std::max(0.0, 1 - zeta * zeta)) / tau;
    const auto shape = [&](double t) {
        if (t <= 0)
            return 0.0;
        if (zeta >= 1)
            return 1 - std::exp(-t / tau);
        return 1
            - std::exp(-zeta * t / tau) * (std::cos(wd * t) + zeta / tau / wd * std::sin(wd * t));
    };
    Telemetry telemetry({"t", 1, "sp", "y"});
    telemetry.feed(lines(
        1 + 10 * tau, period, [&](double t) { return rest + (to - rest) * shape(t - 1); },
        [&](double t) { return t < 1 ? from : to; }));
    StepMetrics step;
    step.time = 1;
    step.from = from;
    step.to = to;
    const StepCurve curve = cutStep(telemetry.buffer(), seriesNamed(telemetry.buffer(), "y"), step,
                                    0.5, 1 + 10 * tau);
    QCOMPARE(curve.rest, rest);
    QVERIFY(curve.points.size() <= kMaxPoints);
    const double way = (to - rest) / (to - from); // of the set-point's step
    const std::vector<QPointF> normalised = overlay(curve, true), absolute = overlay(curve, false);
    QCOMPARE(normalised.size(), absolute.size());
    double peak = -INFINITY;
    for (size_t i = 0; i < normalised.size(); ++i) {
        const double t = normalised[i].x();
        QVERIFY2(std::abs(normalised[i].y() - way * shape(t)) < 1e-9,
                 qPrintable(QString::number(t)));
        QVERIFY(std::abs(absolute[i].y() - (rest + (to - rest) * shape(t))) < 1e-9);
        peak = std::max(peak, normalised[i].y());
    }
    // Aligned at the step: from half a second before it, the first point at 0 with the rest.
    QVERIFY(normalised.front().x() >= -0.5 - 1e-9 && normalised.front().x() < -0.5 + period);
    if (zeta < 1) // the analytic peak, e^(-pi zeta / sqrt(1 - zeta^2)) beyond the set-point
        QVERIFY(std::abs(peak - 1 - std::exp(-std::acos(-1.0) * zeta / std::sqrt(1 - zeta * zeta)))
                < 1e-4);
}

void ScopeCompareTest::keepsTheReference()
{
    StepComparison comparison;
    const auto add = [&](double time) {
        StepCurve curve;
        curve.step.time = time;
        curve.step.from = 0;
        curve.step.to = 2;
        curve.step.params = QStringLiteral("Kp:%1,Ki:1").arg(time);
        curve.rest = 0;
        curve.points = {{0, 0}, {0.5, 1}};
        comparison.add(curve);
    };
    const auto times = [&] {
        QStringList list;
        for (const StepCurve &curve : comparison.curves())
            list << QString::number(curve.step.time);
        return list.join(QLatin1Char(' ')) + " pinned " + QString::number(comparison.pinned());
    };
    for (int t = 1; t <= 3; ++t)
        add(t);
    comparison.pin(1);
    for (int t = 4; t <= 9; ++t)
        add(t);
    QCOMPARE(times(), QStringLiteral("2 4 5 6 7 8 9 pinned 0"));
    comparison.pin(-1);
    add(10);
    QCOMPARE(times(), QStringLiteral("5 6 7 8 9 10 pinned -1"));

    QTemporaryDir folder;
    QString error;
    const QString path = folder.filePath(QStringLiteral("steps.csv"));
    comparison.pin(5);
    QVERIFY2(comparison.writeCsv(path, true, &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = file.readAll().split('\n');
    QCOMPARE(rows.size(), 6 * 2 + 2);
    QCOMPARE(
        rows[0],
        QByteArray(
            "step,sp_from,sp_to,params,rise,overshoot,settling,sse,reference,time,normalised"));
    QCOMPARE(rows[12], QByteArray("10,0,2,\"Kp:10,Ki:1\",nan,nan,nan,nan,1,0.5,0.5"));
}

QTEST_MAIN(ScopeCompareTest)
#include "tst_scope_compare.moc"
