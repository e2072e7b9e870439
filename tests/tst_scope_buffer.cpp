// SPDX-License-Identifier: MIT
// pidtune-scope: the scope's ring of lines and what a pixel column of the chart takes from it.
#include "decimation.h"
#include "telemetry.h"

#include <QtTest>

using namespace pidtune::scope;

class ScopeBufferTest : public QObject
{
    Q_OBJECT

private slots:
    void decimatesPerColumn();
};

// The lowest and highest of each pixel column in the order they came; NaN a gap, while lines
// without the series are passed over.
void ScopeBufferTest::decimatesPerColumn()
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

QTEST_MAIN(ScopeBufferTest)
#include "tst_scope_buffer.moc"
