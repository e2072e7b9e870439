// SPDX-License-Identifier: MIT
// pidtune-scope: the lines the scope holds, in full and as the summaries its chart is drawn from.
#include "samplebuffer.h"

#include <QtTest>

#include <cmath>

using namespace pidtune::scope;

class ScopeBufferTest : public QObject
{
    Q_OBJECT

private slots:
    void summariesAreTheLines_data();
    void summariesAreTheLines();
};

namespace {

// What lines [from, to) of one series hold, read one by one: "empty", or the lowest and
// highest value in the order they first came, and where the NaN and inf fell among them.
QString truth(const std::vector<double> &lines, quint64 from, quint64 to)
{
    qint64 lowAt = -1, highAt = -1, firstAt = -1, lastAt = -1;
    std::vector<quint64> gaps;
    for (quint64 line = from; line < to; ++line) {
        const double value = lines[line];
        if (SampleBuffer::isAbsent(value))
            continue;
        if (!std::isfinite(value)) {
            gaps.push_back(line);
            continue;
        }
        if (firstAt < 0 || value < lines[size_t(lowAt)])
            lowAt = qint64(line);
        if (firstAt < 0 || value > lines[size_t(highAt)])
            highAt = qint64(line);
        if (firstAt < 0)
            firstAt = qint64(line);
        lastAt = qint64(line);
    }
    if (firstAt < 0)
        return gaps.empty() ? QStringLiteral("empty") : QStringLiteral("gap only");
    const auto any = [&](auto &&where) {
        return std::any_of(gaps.begin(), gaps.end(), where);
    };
    return QStringLiteral("%1 %2 %3%4%5%6")
        .arg(lowAt <= highAt ? lines[size_t(lowAt)] : lines[size_t(highAt)])
        .arg(lowAt <= highAt ? lines[size_t(highAt)] : lines[size_t(lowAt)])
        .arg(lowAt <= highAt ? "rising" : "falling")
        .arg(any([&](quint64 gap) { return qint64(gap) < firstAt; }) ? ", gap before" : "")
        .arg(any([&](quint64 gap) { return qint64(gap) > firstAt && qint64(gap) < lastAt; })
                 ? ", gap inside"
                 : "")
        .arg(any([&](quint64 gap) { return qint64(gap) > lastAt; }) ? ", gap after" : "");
}

QString shown(const MinMax &summary)
{
    if (summary.isEmpty())
        return QStringLiteral("empty");
    if (!summary.hasValues())
        return QStringLiteral("gap only");
    return QStringLiteral("%1 %2 %3%4%5%6")
        .arg(summary.first())
        .arg(summary.last())
        .arg(summary.flags & MinMax::LowFirst ? "rising" : "falling")
        .arg(summary.flags & MinMax::GapBefore ? ", gap before" : "")
        .arg(summary.flags & MinMax::GapInside ? ", gap inside" : "")
        .arg(summary.flags & MinMax::GapAfter ? ", gap after" : "");
}

} // namespace

void ScopeBufferTest::summariesAreTheLines_data()
{
    QTest::addColumn<int>("rawBits");
    QTest::addColumn<int>("historyBits");
    QTest::addColumn<int>("lines");
    QTest::addColumn<double>("gaps"); // the chance that a line starts a run of NaN or inf
    QTest::newRow("nothing forgotten yet") << 12 << 16 << 3000 << 0.01;
    QTest::newRow("both rings wrapped") << 8 << 12 << 20000 << 0.01;
    QTest::newRow("gaps everywhere") << 8 << 12 << 9000 << 0.3;
    QTest::newRow("no gaps") << 10 << 14 << 40000 << 0.0;
}

// Over any stretch of lines the buffer still holds, in full or as summaries: the lowest and
// highest value, which came first, and where the gaps were, as reading the lines one by one
// gives them; and the lines held in full, found by their time.
void ScopeBufferTest::summariesAreTheLines()
{
    QFETCH(int, rawBits);
    QFETCH(int, historyBits);
    QFETCH(int, lines);
    QFETCH(double, gaps);
    QRandomGenerator random(29);
    SampleBuffer buffer(rawBits, historyBits);
    const int seriesCount = 3;
    std::vector<std::vector<double>> sent(seriesCount);
    std::vector<double> times;
    for (int series = 0; series < seriesCount; ++series)
        buffer.addSeries(QString::number(series));
    // Noise with repeated values, a series that most lines leave out, and one that steps;
    // runs of NaN, inf and -inf; times that repeat.
    int gapLeft[seriesCount] = {};
    for (int line = 0; line < lines; ++line) {
        double values[seriesCount];
        for (int series = 0; series < seriesCount; ++series) {
            double &value = values[series];
            if (gapLeft[series] == 0 && random.generateDouble() < gaps)
                gapLeft[series] = 1 + random.bounded(200);
            if (gapLeft[series] > 0) {
                --gapLeft[series];
                const double nonFinite[] = {qQNaN(), qInf(), -qInf()};
                value = nonFinite[random.bounded(3)];
            } else {
                value = series == 0 ? random.bounded(9) - 4.0
                    : series == 1   ? random.generateDouble() * 1e6 - 5e5
                                    : (line / 500) % 7 + random.bounded(2) * 0.5;
            }
            if (series == 1 && random.bounded(10) > 0)
                value = SampleBuffer::absent();
            sent[size_t(series)].push_back(value);
        }
        times.push_back(0.001 * (line - line % 3));
        buffer.append(times.back(), values);
    }
    QCOMPARE(buffer.appended(), quint64(lines));
    const quint64 held = buffer.oldestLine(), end = buffer.appended();
    QCOMPARE(end - held, std::min(quint64(lines), quint64(1) << rawBits));
    QVERIFY(buffer.historyStart() <= held);
    for (int check = 0; check < 3000; ++check) {
        const int series = check % seriesCount;
        // Any start; within the summaries at a run's first line, as the chart asks for them.
        quint64 from
            = buffer.historyStart() + quint64(random.bounded(int(end - buffer.historyStart())));
        if (from < held)
            from -= from % SampleBuffer::kRunLines;
        quint64 to = from + 1 + quint64(random.bounded(int(std::min<quint64>(end - from, 5000))));
        if (to < held + to % SampleBuffer::kRunLines)
            to -= to % SampleBuffer::kRunLines;
        if (to <= from)
            continue;
        QCOMPARE(shown(buffer.summary(series, from, to)), truth(sent[size_t(series)], from, to));
    }
    for (int check = 0; check < 200; ++check) {
        const double time
            = times[held + quint64(random.bounded(int(end - held - 3)))] + (check % 2 ? 0.0005 : 0);
        const quint64 found = buffer.lineAt(time, end);
        QVERIFY(found >= held && found < end);
        QVERIFY(times[found] >= time && (found == held || times[found - 1] < time));
        QCOMPARE(buffer.time(qsizetype(found - held)), times[found]);
    }
    QCOMPARE(buffer.value(0, 0), sent[0][held]);
}

QTEST_MAIN(ScopeBufferTest)
#include "tst_scope_buffer.moc"
