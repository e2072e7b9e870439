// SPDX-License-Identifier: MIT
// pidtune-scope: the step measures against analytic first- and second-order responses and a PI
// loop's slow tail.
#include "stepmetrics.h"

#include <QtTest>

#include <cmath>

using namespace pidtune::scope;

class ScopeStepsTest : public QObject
{
    Q_OBJECT

private slots:
    void measuresSteps_data();
    void measuresSteps();
};

void ScopeStepsTest::measuresSteps_data()
{
    QTest::addColumn<int>("order");
    QTest::addColumn<int>("period"); // ms between lines
    QTest::addColumn<int>("offset"); // ms from a whole number of periods to the lines
    QTest::addColumn<QVector<double>>(
        "expected"); // rise, overshoot, settling, error; NaN: not checked
    const double tau = 0.25, zeta = 0.5, unchecked = qQNaN();
    // Kp 5 alone on a first-order plant leaves 1/6 of the set-point. Lines as sparse as these
    // need crossings interpolated, and the value before the step.
    QTest::newRow("first order, 10 lines/s")
        << 1 << 100 << 0
        << QVector<double> {tau * std::log(9.0), 0.0, tau * std::log(50.0), 50.0 / 6};
    QTest::newRow("second order, zeta 0.5, the step between lines")
        << 2 << 60 << 30
        << QVector<double> {unchecked, 100 * std::exp(-M_PI * zeta / std::sqrt(1 - zeta * zeta)),
                            unchecked, 0.0};
    // A PI loop whose zero nearly cancels a pole: in the band of a value it then leaves, slowly.
    QTest::newRow("slow tail") << 3 << 20 << 0
                               << QVector<double> {unchecked, unchecked, 0.5 * std::log(5.0), 0.0};
}

void ScopeStepsTest::measuresSteps()
{
    QFETCH(int, order);
    QFETCH(int, period);
    QFETCH(int, offset);
    QFETCH(QVector<double>, expected);
    const double tau = 0.25, zeta = 0.5, omega = 2 * M_PI,
                 damped = omega * std::sqrt(1 - zeta * zeta);
    StepTracker tracker;
    std::optional<StepMetrics> step;
    // The set-point steps from 0 to 50 at 1 s.
    for (int line = 0; line < 20000 / period && !step; ++line) {
        const double time = (line * period + offset) / 1000.0, since = std::max(0.0, time - 1);
        const double decay = std::exp(-zeta * omega * since) / std::sqrt(1 - zeta * zeta);
        const double response = order == 1 ? 50.0 * 5 / 6 * (1 - std::exp(-since / tau))
            : order == 2 ? 50 * (1 - decay * std::sin(damped * since + std::acos(zeta)))
                         : 50 - 55 * std::exp(-since / 0.08) + 5 * std::exp(-since / 0.5);
        step = tracker.add(time, time < 1 ? 0 : 50, response);
    }
    QVERIFY2(step, "the step was not reported once settled");
    QCOMPARE(step->time, (std::ceil((1000.0 - offset) / period) * period + offset) / 1000);
    QCOMPARE(step->to, 50.0);
    const double measured[] = {step->rise, step->overshoot, step->settling, step->error};
    for (int i = 0; i < 4; ++i) { // within 2 %; one that should be 0 within 2 % of the step
        const double within = 0.02 * (expected[i] == 0 ? 50 : std::abs(expected[i]));
        QVERIFY2(
            std::isnan(expected[i]) || std::abs(measured[i] - expected[i]) <= within,
            qPrintable(
                QStringLiteral("measure %1: %2, not %3").arg(i).arg(measured[i]).arg(expected[i])));
    }
}

QTEST_MAIN(ScopeStepsTest)
#include "tst_scope_steps.moc"
