// SPDX-License-Identifier: MIT
// pidtune-scope: the scope's line reader: the convention, the firmware's lines, malformed and
// hostile lines.
#include "scopelines.h"
#include "telemetry.h"

#include <QtTest>

using namespace pidtune::scope;

class ScopeTelemetryTest : public QObject
{
    Q_OBJECT

private slots:
    void readsLines_data();
    void readsLines();
    void marksParameters_data();
    void marksParameters();
};

void ScopeTelemetryTest::readsLines_data()
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
        {"the firmware's lines, timed by t", firmware, "t", "1.02: sp=50 y=41.66 u=41.68 | 2: sp=50 y=41.7 u=41.7 overruns=0", 1},
        {"the firmware's lines by arrival", firmware, "", "int=32 slots=16 | t=1020 sp=50 y=41.66 u=41.68 | t=2000 sp=50 y=41.7 u=41.7 overruns=0", 0},
        {"only the time or none that is finite: nothing to plot", "t=5\nt=nan y=1\nt=inf y=1\nt=-inf y=1\n", "t", "", 4},
        {"time going back starts afresh", "t=2000 y=1\nt=3000 y=2\nt=1000 y=3\n", "t", "1: y=3", 0},
        {"the same time again: no restart", "t=2000 y=1\nt=2000 y=2\n", "t", "2: y=1 | 2: y=2", 0},
        {"a bare number as the time", "1000 5\n2000 7 8\n", "1", "1: 2=5 | 2: 2=7 3=8", 0},
        {"names in invalid UTF-8 stay apart", "a\xff=1 a\xfe=2 \xe2\x82\xac=3\n", "", "a\\xFF=1 a\\xFE=2 \u20ac=3", 0},
        {"a line of 4 KiB", QByteArray("1 ").repeated(2048) + '\n', "", thirtyTwo.join(QLatin1Char(' ')) + " | too many", 0},
        {"over 4 KiB: skipped whole", QByteArray("1 ").repeated(2049) + "\n5\n" + QByteArray(5000, 'x'), "", "1=5", 2},
    };
    // clang-format on
    for (const auto &row : rows)
        QTest::newRow(row.name) << row.input << row.time << row.lines << row.skipped;
}

void ScopeTelemetryTest::readsLines()
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

void ScopeTelemetryTest::marksParameters_data()
{
    // Telemetry lines, and between them ">id=value" for a frame going to the device.
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<bool>("timedOnly"); // by the device's clock only: time matters
    QTest::addColumn<QString>("markers"); // "@line label=value answer", the line it precedes
    QTest::addColumn<QString>("inForce"); // after the last line
    QTest::addColumn<QString>("steps"); // the steps' params
    // Lines 1 ms apart, 1,000 a second: a frame sent between lines k-1 and k is marked @k, so
    // within one line of when it went out, by the device's clock (t) and by arrival alike.
    QByteArray ms;
    for (int t = 1000; t < 1010; ++t)
        ms += "t=" + QByteArray::number(t) + " sp=0 y=0\n";
    const auto upTo = [&](int line) {
        return ms.left(16 * line);
    };
    const auto from = [&](int line) {
        return ms.mid(16 * line);
    };
    const QByteArray answer = "param id=1 value=5 bits=40a00000 skipped=0\n";
    // clang-format off
    const struct { const char *name; QByteArray script; bool timedOnly; QString markers, inForce, steps; } rows[] = {
        {"placed by the next line", upTo(5) + ">1=5\n" + ms.mid(80, 16) + ">3=0.25\n" + from(6), false,
            "@5 Kp=5 sent | @6 3=0.25 sent", "Kp:5,3:0.25", ""},
        {"applied, by bits and by 5 decimals", upTo(3) + ">1=5\n>44=0.69999\n" + answer
            + "param id=44 value=0.69999 skipped=0\n" + from(3), false,
            "@3 Kp=5 applied | @3 44=0.69999 applied", "Kp:5,44:0.69999", ""},
        {"refused, and what was in force stays", ">1=2\n>1=-150\n" + upTo(3)
            + "param id=1 value=2\nreject id=1 value=-150 bits=c3160000 reason=range skipped=0\n" + from(3), false,
            "@0 Kp=2 applied | @0 Kp=-150 refused:range", "Kp:2", ""},
        {"a frame the device skipped", upTo(3) + ">1=3\n>1=5\n" + answer + from(3), false,
            "@3 Kp=3 missing | @3 Kp=5 applied", "Kp:5", ""},
        {"one it never answered", upTo(3) + ">1=5\n" + answer + ">2=7\n" + from(3) + "t=2100 sp=0 y=0\n", true,
            "@3 Kp=5 applied | @3 2=7 missing", "Kp:5,2:7?", ""},
        {"a late answer", ">2=1\nparam id=2 value=1\n" + upTo(3) + ">1=5\n" + from(3) + "t=2200 sp=0 y=0\n" + answer + "t=2201 sp=0 y=0\n", false,
            "@0 2=1 applied | @3 Kp=5 applied", "Kp:5,2:1", ""},
        {"the device's own report", upTo(3) + "param id=9 value=0.2 bits=3e4ccccd skipped=0\n" + from(3), false,
            "@3 9=0.2 reported", "9:0.2", ""},
        {"not a report", upTo(1) + "param id=x value=1\nparam id=256 value=1\nparamid=1 value=1\n" + from(1), true,
            "", "", ""},
        {"a step, with what was in force at its start", ">1=2\n" + upTo(3) + ">5=50\nt=1003 sp=50 y=0\n>1=8\nt=1200 sp=50 y=30\n", false,
            "@0 Kp=2 sent | @3 sp=50 sent | @4 Kp=8 sent", "Kp:8,sp:50", "Kp:2,sp:50"},
        {"a frame the device took only after the step", ">1=2\nparam id=1 value=2\n" + upTo(3)
            + ">5=50\n>1=8\nparam id=5 value=50\nt=1003 sp=50 y=0\nparam id=1 value=8\nt=1200 sp=50 y=30\n", false,
            "@0 Kp=2 applied | @3 sp=50 applied | @3 Kp=8 applied", "Kp:8,sp:50", "Kp:2,sp:50"},
        {"a restart forgets them", ">1=2\n" + upTo(3) + "t=5 sp=0 y=0\n>1=4\nt=6 sp=0 y=0\n", true,
            "@1 Kp=4 sent", "Kp:4", ""},
    };
    // clang-format on
    for (const auto &row : rows)
        QTest::newRow(row.name) << row.script << row.timedOnly << row.markers << row.inForce
                                << row.steps;
}

void ScopeTelemetryTest::marksParameters()
{
    QFETCH(QByteArray, script);
    QFETCH(bool, timedOnly);
    QFETCH(QString, markers);
    QFETCH(QString, inForce);
    QFETCH(QString, steps);
    for (const QByteArray time : {"t", ""}) {
        if (timedOnly && time.isEmpty())
            continue;
        Telemetry telemetry({time, 1e-3, "sp", "y"});
        telemetry.parameters().setNames({{1, "Kp"}, {5, "sp"}});
        QStringList params;
        connect(&telemetry, &Telemetry::stepMeasured,
                [&](const StepMetrics &step) { params << step.params; });
        for (const QByteArray &line : script.split('\n')) {
            if (line.startsWith('>'))
                telemetry.parameterSent(line.mid(1, line.indexOf('=') - 1).toInt(),
                                        line.mid(line.indexOf('=') + 1).toFloat());
            else if (!line.isEmpty())
                telemetry.feed(line + '\n');
        }
        telemetry.finish();
        const ParameterLog &log = telemetry.parameters();
        QStringList marked;
        for (const ParameterChange &change : log.changes())
            marked << QStringLiteral("@%1 %2=%3 %4")
                          .arg(telemetry.buffer().lowerBound(change.time))
                          .arg(log.label(change.id), floatText(change.value), answerText(change));
        QCOMPARE(marked.join(QStringLiteral(" | ")), markers);
        QCOMPARE(log.inForce(INFINITY), inForce);
        QCOMPARE(params.join(QStringLiteral(" | ")), steps);
    }
}

QTEST_MAIN(ScopeTelemetryTest)
#include "tst_scope_telemetry.moc"
