// SPDX-License-Identifier: MIT
// pidtune-scope's history: its summaries let a chart of minutes of lines cost what its pixels
// cost. Timed here in-process, on the offscreen platform, with the scope's own classes.
#include "scopehistory.h"

#include "plotwidget.h"
#include "processinfo.h"
#include "samplebuffer.h"
#include "scopewindow.h"
#include "stats.h"
#include "telemetry.h"

#include <QtTest>
#include <QtWidgets>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace scopehistory {

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double cpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// A noisy value of the series at the line, full height: -1 to 1.
double noisy(qint64 line, int series, double rate)
{
    const std::uint32_t h = std::uint32_t(line) * 2654435761u ^ std::uint32_t(series) * 0x9e3779b9u;
    return 0.8 * std::sin(2 * M_PI * (0.1 + 0.03 * series) * double(line) / rate)
        + 0.2 * (double((h ^ (h >> 15)) & 0xffff) / 32768 - 1);
}

// Paints the chart whole once, and then after each of `batches` batches of new lines; gives the
// median ms of the later paints.
double drawnMs(PlotWidget &plot)
{
    const auto start = Clock::now();
    plot.repaint();
    return msSince(start);
}

} // namespace

void printFigures()
{
    // 10 minutes at 20,000 lines a second, 8 series.
    constexpr int kSeries = 8;
    constexpr double kRate = 20000;
    constexpr qint64 kLines = qint64(600 * kRate);
    const qint64 residentBefore = processinfo::residentKiB();
    pidtune::scope::SampleBuffer buffer;
    for (int series = 0; series < kSeries; ++series)
        buffer.addSeries(QString::number(series));
    const qint64 residentEmpty = processinfo::residentKiB();
    double values[kSeries];
    auto start = Clock::now();
    for (qint64 line = 0; line < kLines; ++line) {
        for (int series = 0; series < kSeries; ++series)
            values[series] = noisy(line, series, kRate);
        buffer.append(double(line) / kRate, values);
    }
    const double appendNs = msSince(start) * 1e6 / double(kLines);
    const qint64 residentFull = processinfo::residentKiB();

    QWidget window;
    auto *plot = new PlotWidget(&window);
    plot->resize(1200, 800);
    window.resize(plot->size());
    for (int series = 0; series < kSeries; ++series)
        plot->addCurve(series, PlotWidget::colour(series));
    plot->setTimeSpan(600);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    start = Clock::now();
    plot->setBuffer(&buffer); // the columns from the summaries
    const double columnsMs = msSince(start);
    const double paintMs = drawnMs(*plot);
    // 1,000 lines (50 ms, a little more than a frame's) at a time, each redraw timed.
    std::vector<double> redraws;
    qint64 line = kLines;
    for (int frame = 0; frame < 100; ++frame) {
        for (int i = 0; i < 1000; ++i, ++line) {
            for (int series = 0; series < kSeries; ++series)
                values[series] = noisy(line, series, kRate);
            buffer.append(double(line) / kRate, values);
        }
        start = Clock::now();
        plot->refresh();
        QCoreApplication::processEvents();
        redraws.push_back(msSince(start));
    }
    std::printf("\npidtune-scope's history, in this process (offscreen): 10 minutes at %.0f lines "
                "a second x %d noisy series, %lld lines; %.0f ns a line to keep, %s; resident "
                "%.1f MiB for the buffer, all of it taken when the series appear (%.1f MiB "
                "before the first line)\n",
                kRate, kSeries, kLines, appendNs,
                plot->isSummarised() ? "the 600 s view drawn from summaries"
                                     : "the 600 s view drawn from full-resolution lines",
                double(residentFull - residentBefore) / 1024,
                double(residentEmpty - residentBefore) / 1024);
    std::printf("a 1200x800 chart of the 600 s view: its columns computed whole in %.1f ms, "
                "painted whole in %.1f ms; after each 1,000 new lines, the new columns computed "
                "and painted in %.2f ms (median of 100; p99 %.2f)\n",
                columnsMs, paintMs, median(redraws), percentile(redraws, 0.99));

    // 131,072 lines of 32 noisy full-height series, given at once to the scope's window.
    constexpr int kWide = 32;
    constexpr qint64 kCatchUp = 131072;
    QByteArray text;
    text.reserve(int(kCatchUp * 32 * 9));
    char number[32];
    for (qint64 n = 0; n < kCatchUp; ++n) {
        text += "t=" + QByteArray::number(n);
        for (int series = 0; series < kWide; ++series) {
            text += " s" + QByteArray::number(series) + '=';
            text.append(number,
                        std::snprintf(number, sizeof number, "%.4f", noisy(n, series, 1000)));
        }
        text += '\n';
    }
    pidtune::scope::Telemetry telemetry({"t", 1e-3, "sp", "y"});
    ScopeWindow scope(telemetry, QStringLiteral("bench"));
    scope.show();
    (void)QTest::qWaitForWindowExposed(&scope);
    const double cpuStart = cpuMs();
    start = Clock::now();
    for (qsizetype at = 0; at < text.size(); at += 65536) {
        telemetry.feed(text.mid(at, 65536));
        QCoreApplication::processEvents();
    }
    auto *chart = scope.findChild<PlotWidget *>();
    (void)QTest::qWaitFor(
        [&] {
            return chart->shown(kWide - 1).hasValues() && telemetry.lines() == quint64(kCatchUp);
        },
        10000);
    QCoreApplication::processEvents();
    std::printf("%lld lines of %d noisy full-height series (%.1f MiB) given to the scope's window "
                "at once, 64 KiB at a time: taken in and drawn in %.2f s, %.2f s of CPU\n",
                kCatchUp, kWide, double(text.size()) / (1 << 20), msSince(start) / 1000,
                (cpuMs() - cpuStart) / 1000);
}

} // namespace scopehistory
