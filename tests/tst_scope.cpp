// SPDX-License-Identifier: MIT
// pidtune-scope: telemetry lines as the plot's buffer gets them, the step measures against
// analytic responses, and what its window shows of them.
#include "decimation.h"
#include "plotwidget.h"
#include "scopeoptions.h"
#include "scopewindow.h"
#include "source.h"
#include "stepmetrics.h"
#include "telemetry.h"

#include <QtTest>
#include <QtWidgets>

#include <cmath>

using namespace pidtune::scope;

namespace {

// The buffer's lines, "time: name=value ..." (the time only when a field gives it), joined by
// " | ", and "too many" when series were refused.
QString render(const Telemetry &telemetry, bool timed)
{
    const SampleBuffer &buffer = telemetry.buffer();
    QStringList lines;
    for (qsizetype line = 0; line < buffer.size(); ++line) {
        QStringList values;
        if (timed)
            values << QString::number(buffer.time(line)) + QLatin1Char(':');
        for (int series = 0; series < buffer.seriesCount(); ++series) {
            if (!SampleBuffer::isAbsent(buffer.value(series, line)))
                values << buffer.name(series) + QLatin1Char('=')
                        + QString::number(buffer.value(series, line));
        }
        lines << values.join(QLatin1Char(' '));
    }
    if (telemetry.tooManySeries())
        lines << QStringLiteral("too many");
    return lines.join(QStringLiteral(" | "));
}

} // namespace

class ScopeTest : public QObject
{
    Q_OBJECT

private slots:
    void readsLines_data();
    void readsLines();
    void measuresSteps_data();
    void measuresSteps();
    void decimatesPerColumn();
    void savesAndReplaysCsv();
    void windowShowsTheLatest();
    void readsItsCommandLine_data();
    void readsItsCommandLine();
};

void ScopeTest::readsLines_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("timeField");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<int>("skipped");

    const QByteArray firmware = "ready board=mps2-an385 int=32 slots=16\r\n"
                                "t=1020 sp=50 y=41.66 u=41.68\r\n"
                                "state t=2000 sp=50 y=41.7 u=41.7 overruns=0\r\n"
                                "param id=1 value=5 bits=40a00000 skipped=0\r\n";
    QStringList thirtyTwo;
    for (int series = 1; series <= 32; ++series)
        thirtyTwo << QStringLiteral("%1=1").arg(series);
    // clang-format off
    const struct { const char *name; QByteArray input, time; QString lines; int skipped; } rows[] = {
        {"bare numbers are series 1, 2, ...", "1 2.5 -3\n", "", "1=1 2=2.5 3=-3", 0},
        {"spaces, tabs and commas", "1,\t2 ,3\n", "", "1=1 2=2 3=3", 0},
        {"labels with : or =, numbered among the bare", "a:1 x 7 b=2 8\n", "", "a=1 1=7 b=2 2=8", 0},
        {"words and empty labels ignored", "state ok sp= =6 :5 y=3\n", "", "y=3", 0},
        {"CR, LF and CRLF end lines; empty ones are none", "1\r2\n\n3\r\n\r\n4\n", "", "1=1 | 1=2 | 1=3 | 1=4", 0},
        {"signs, exponents, any case of nan and inf", "+1 1e3 -2.5E-1 NaN -INF inf\n", "", "1=1 2=1000 3=-0.25 4=nan 5=-inf 6=inf", 0},
        {"no numbers: skipped", "a=1x b=0x10 c=1.2.3 d=-- e=+-1\n", "", "", 1},
        {"binary noise", QByteArray::fromHex("01ff8020793d31207f0020fe0a"), "", "y=1", 0},
        {"the firmware's lines, timed by t", firmware, "t", "1.02: sp=50 y=41.66 u=41.68 | 2: sp=50 y=41.7 u=41.7 overruns=0", 2},
        {"the firmware's lines by arrival", firmware, "", "int=32 slots=16 | t=1020 sp=50 y=41.66 u=41.68 | t=2000 sp=50 y=41.7 u=41.7 overruns=0 | id=1 value=5 skipped=0", 0},
        {"only the time: nothing to plot", "t=5\nt=nan y=1\n", "t", "", 2},
        {"time going back starts afresh", "t=2000 y=1\nt=3000 y=2\nt=1000 y=3\n", "t", "1: y=3", 0},
        {"a line of 4 KiB", QByteArray("1 ").repeated(2048) + '\n', "", thirtyTwo.join(QLatin1Char(' ')) + " | too many", 0},
        {"over 4 KiB: skipped whole", QByteArray("1 ").repeated(2049) + "\n5\n" + QByteArray(5000, 'x'), "", "1=5", 2},
    };
    // clang-format on
    for (const auto &row : rows)
        QTest::newRow(row.name) << row.input << row.time << row.lines << row.skipped;
}

void ScopeTest::readsLines()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, timeField);
    QFETCH(QString, lines);
    QFETCH(int, skipped);
    // At once, and a byte at a time as a slow line delivers it.
    for (const bool byByte : {false, true}) {
        Telemetry telemetry({timeField, 1e-3, "sp", "y"});
        for (qsizetype at = 0; at < input.size(); at += byByte ? 1 : input.size())
            telemetry.feed(input.mid(at, byByte ? 1 : input.size()));
        telemetry.finish();
        QCOMPARE(render(telemetry, !timeField.isEmpty()), lines);
        QCOMPARE(telemetry.skipped(), quint64(skipped));
    }
}

void ScopeTest::measuresSteps_data()
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

void ScopeTest::measuresSteps()
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

// The lowest and highest of each pixel column in the order they came; NaN a gap, while lines
// without the series are passed over.
void ScopeTest::decimatesPerColumn()
{
    Telemetry telemetry({"t", 1, "sp", "y"});
    telemetry.feed("t=0 y=1\nt=0.1 y=5\nt=0.2 y=-3\nt=0.3 u=1\nt=1 y=2\nt=2 y=nan\nt=2.5 "
                   "y=inf\nt=3 y=4\nt=3.5 y=6\n");
    QVector<QPointF> points;
    Extent extent;
    decimate(telemetry.buffer(), 0, 0, 0, 4, 4, points, extent);
    QStringList drawn;
    for (const QPointF &point : points)
        drawn << QStringLiteral("%1:%2").arg(point.x()).arg(point.y());
    QCOMPARE(drawn.join(QLatin1Char(' ')), QStringLiteral("0.5:5 0.5:-3 1.5:2 2:nan 3.5:4 3.5:6"));
    QCOMPARE(extent.low, -3.0);
    QCOMPARE(extent.high, 6.0);
    decimate(telemetry.buffer(), 0, 0, 1e20, 1e20, 4, points, extent); // no width: all in one
    QCOMPARE(points.size(), 5);
    Extent flat;
    decimate(telemetry.buffer(), 0, 8, 3.5, 3.5, 4, points, flat);
    // One value is a range of its own, not none, and nothing more.
    QVERIFY(!flat.isEmpty() && flat.low == 6 && flat.high == 6);

    // The ring keeps the newest lines, oldest first, and finds a time among them.
    QByteArray lines;
    for (int line = 0; line < SampleBuffer::kCapacity + 3; ++line)
        lines += "t=" + QByteArray::number(line) + " y=" + QByteArray::number(line % 7) + '\n';
    Telemetry ring({"t", 1, "sp", "y"});
    ring.feed(lines);
    QCOMPARE(ring.buffer().size(), qsizetype(SampleBuffer::kCapacity));
    QCOMPARE(qMakePair(ring.buffer().time(0), ring.buffer().value(0, 0)), qMakePair(3.0, 3.0));
    QCOMPARE(ring.buffer().lowerBound(10), qsizetype(7));
}

void ScopeTest::savesAndReplaysCsv()
{
    Telemetry recorded({"t", 1e-3, "sp", "y"});
    recorded.feed("t=0 a=1.5 b=-2\nt=10 b=nan\nt=20 a=-inf c=1e-7\n");
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("scope.csv"));
    QString error;
    QVERIFY2(writeCsv(recorded.buffer(), path, &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("time,a,b,c\n0,1.5,-2,\n0.01,,nan,\n0.02,-inf,,1e-07\n"));

    // The lines the file replays to its end, as the scope's window would get them.
    const auto replay = [&] {
        Telemetry replayed({});
        Source source;
        QByteArray timeColumn;
        if (!source.openCsv(path, &timeColumn, &error))
            return error;
        replayed.setTimeField(timeColumn, 1);
        connect(&source, &Source::received, &replayed, &Telemetry::feed);
        QSignalSpy ended(&source, &Source::ended);
        return ended.wait() ? render(replayed, true) : QStringLiteral("never ended");
    };
    QElapsedTimer replaying;
    replaying.start();
    QCOMPARE(replay(), render(recorded, true));
    QVERIFY(replaying.elapsed()
            >= 15); // at the pace recorded: 20 ms from the first row to the last

    // A spreadsheet's header: each name stays one label of the lines replayed.
    file.close();
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("s,speed (rpm),Kp=5,y:1\n0.5,1,2,3\n");
    file.close();
    QCOMPARE(replay(), QStringLiteral("0.5: speed_(rpm)=1 Kp_5=2 y_1=3"));
}

void ScopeTest::windowShowsTheLatest()
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
    QTRY_COMPARE(plot->curves.size(), size_t(3));
    QTRY_VERIFY(!plot->curves[1].points.isEmpty());
    // The last 2 s, scaled out to whole ticks around all that is shown.
    QVERIFY(std::abs(plot->curves[0].points.first().x() - 4.01) < 0.01);
    QCOMPARE(qMakePair(plot->yLow(), plot->yHigh()), qMakePair(-10.0, 50.0));
    QTRY_VERIFY(window.findChild<QLabel *>(QStringLiteral("step"))
                    ->text()
                    .contains(QStringLiteral("\n超调 0.0 %\n")));
    QList<QCheckBox *> legend = window.findChildren<QCheckBox *>();
    legend.removeOne(window.findChild<QCheckBox *>(QStringLiteral("fixedRange")));
    QCOMPARE(legend.last()->text(), QStringLiteral("u  -7"));
    legend.last()->click();
    QTRY_COMPARE(qMakePair(plot->yLow(), plot->yHigh()), qMakePair(38.0, 48.0));
    window.setFixedRange(0, 60);
    QTRY_COMPARE(qMakePair(plot->yLow(), plot->yHigh()), qMakePair(0.0, 60.0));
    QVERIFY(!plot->curves[2].visible && plot->curves[1].visible);
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
        const QVector<QPointF> &points = plot->curves[1].points;
        return std::any_of(points.begin(), points.end(), [](QPointF p) { return p.y() == 80; });
    };
    QVERIFY(!QTest::qWaitFor(shown, 200));
    window.findChild<QPushButton *>(QStringLiteral("pause"))->click();
    QVERIFY(shown());
}

void ScopeTest::readsItsCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    // What the scope starts with (source, baud rate, seconds per time unit, window, Y range);
    // empty: refused.
    QTest::addColumn<QString>("options");
    QTest::newRow("defaults") << QStringList {"-"} << "- 115200 0.001 10 auto";
    QTest::newRow("ms") << QStringList {"--time-unit", "ms", "--window=2.5", "-"}
                        << "- 115200 0.001 2.5 auto";
    QTest::newRow("us, fixed") << QStringList {"--time-unit=us", "--y-range=-1:2.5", "x.CSV"}
                               << "x.CSV csv 115200 1e-06 10 -1:2.5";
    QTest::newRow("relay at 9600") << QStringList {"--baud", "9600", "--relay", "/dev/ttyACM0"}
                                   << "/dev/ttyACM0 9600 0.001 10 auto";
    QTest::newRow("empty range") << QStringList {"--y-range=2:2", "-"} << "";
    QTest::newRow("no window") << QStringList {"--window=0", "-"} << "";
    QTest::newRow("fractional baud") << QStringList {"--baud=9600.5", "-"} << "";
}

void ScopeTest::readsItsCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, options);
    QByteArrayList texts {"pidtune-scope"};
    for (const QString &argument : arguments)
        texts << argument.toLocal8Bit();
    std::vector<char *> argv;
    for (QByteArray &text : texts)
        argv.push_back(text.data());
    ScopeOptions read;
    const std::optional<int> status = readCommandLine(int(argv.size()), argv.data(), &read);
    QCOMPARE(status, options.isEmpty() ? std::optional<int>(2) : std::nullopt);
    if (status)
        return;
    QCOMPARE(
        QStringLiteral("%1%2 %3 %4 %5 %6")
            .arg(read.source.isEmpty() ? read.relayPort : read.source, read.isCsv() ? " csv" : "")
            .arg(read.baudRate)
            .arg(read.telemetry.secondsPerUnit)
            .arg(read.windowSeconds)
            .arg(read.fixedRange ? QStringLiteral("%1:%2").arg(read.rangeLow).arg(read.rangeHigh)
                                 : "auto"),
        options);
}

QTEST_MAIN(ScopeTest)
#include "tst_scope.moc"
