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
        {"the firmware's lines, timed by t", firmware, "t", "1.02: sp=50 y=41.66 u=41.68 | 2: sp=50 y=41.7 u=41.7 overruns=0", 2},
        {"the firmware's lines by arrival", firmware, "", "int=32 slots=16 | t=1020 sp=50 y=41.66 u=41.68 | t=2000 sp=50 y=41.7 u=41.7 overruns=0 | id=1 value=5 skipped=0", 0},
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

QTEST_MAIN(ScopeTelemetryTest)
#include "tst_scope_telemetry.moc"
