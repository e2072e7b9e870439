// SPDX-License-Identifier: MIT
// pidtune-scope next to the live plotters Debian packages: kst2, which reads a file as it grows,
// and feedgnuplot --stream, which pipes what it reads on standard input to gnuplot and its X11
// terminal. All three get the same lines at the same pace on an Xvfb of the bench's own, one
// program after the other so that none takes CPU time from another, and all three are watched
// from outside in the same way (plotrun.h). Nothing is asked of the programs themselves, so the
// scope runs unchanged, as an operator starts it. The scope then runs once more with markers in
// its stream, and its window is read back from the X server after each damage to see when each
// marker's pixels are there (markerwatch.h).
#include "liveplot.h"

#include "framecost.h"
#include "plotrun.h"
#include "stats.h"

#include <QtCore>

#include <cstdio>

namespace liveplot {

#if !defined(PIDTUNE_BENCH_X11)

void printFigures(double)
{
    std::printf("\nlive plotting on X: skipped, built without xcb-damage "
                "(apt-get install libxcb-damage0-dev xvfb, then rebuild)\n");
}

#else

namespace {

constexpr int kWidth = 1200, kHeight = 800;
constexpr double kFlatMiB = 1; // memory that grew by less is flat

std::vector<Workload> workloads()
{
    return {{QStringLiteral("4 series x 1,000 lines/s, smooth"), 4, 1000, 0, 10},
            {QStringLiteral("4 series x 1,000 lines/s, 2 % noise"), 4, 1000, 0.02, 10},
            {QStringLiteral("8 series x 20,000 lines/s, 2 % noise"), 8, 20000, 0.02, 60},
            {QStringLiteral("32 series x 1,000 lines/s, 2 % noise"), 32, 1000, 0.02, 10}};
}

// The three programs, set up for the workload: each shows the workload's view and is asked
// for at most 50 redraws a second, the scope's own cap.
std::vector<Plotter> plotters(const Workload &workload)
{
    const QString view = QString::number(workload.viewSeconds);
    Plotter scope {QStringLiteral("pidtune-scope"),
                   QStringLiteral(PIDTUNE_SCOPE),
                   {"--time", "t", "--window", view, "-"},
                   false,
                   true,
                   {},
                   {}};
    // The view's lines of the file, the first column as X; asked to look at the growing file
    // every 20 ms.
    QStringList kstArguments {
        "stream.txt", "-n", QString::number(qint64(workload.viewSeconds * workload.linesPerSecond)),
        "-x",         "1",  "-P",
        "P1"};
    for (int series = 0; series < workload.series; ++series)
        kstArguments << QStringLiteral("-y") << QString::number(series + 2);
    Plotter kst {QStringLiteral("kst2"),
                 QStandardPaths::findExecutable(QStringLiteral("kst2")),
                 kstArguments,
                 true,
                 false,
                 {{QStringLiteral("kst/application.conf"), "[%General]\nminimumupdateperiod=20\n"}},
                 {}};
    if (kst.program.isEmpty())
        kst.missing = QStringLiteral("not installed (apt-get install kst)");
    // Replotting every 20 ms at most, through gnuplot's X11 terminal.
    Plotter feedgnuplot {QStringLiteral("feedgnuplot --stream"),
                         QStandardPaths::findExecutable(QStringLiteral("feedgnuplot")),
                         {"--domain", "--lines", "--stream", "0.02", "--xlen", view, "--terminal",
                          QStringLiteral("x11")},
                         false,
                         false,
                         {},
                         {}};
    if (feedgnuplot.program.isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("gnuplot")).isEmpty())
        feedgnuplot.missing
            = QStringLiteral("not installed (apt-get install feedgnuplot gnuplot-x11)");
    return {scope, kst, feedgnuplot};
}

QString behind(qint64 lines, const Workload &workload)
{
    if (lines < 0)
        return QStringLiteral("?");
    if (lines == 0)
        return QStringLiteral("0");
    return QStringLiteral("%1 (%2 s)")
        .arg(lines)
        .arg(double(lines) / workload.linesPerSecond, 0, 'f', 1);
}

void printRow(const Plotter &plotter, const Figures &f, const Workload &workload)
{
    std::printf("  %-21s %7.3f %7.2f %8.3f %6.1f %6.1f %9.1f %7.1f %7.1f %14s %14s %9s\n",
                qPrintable(plotter.label), f.cpuPerSecond,
                f.redrawsPerSecond > 0 ? f.cpuPerSecond * 1000 / f.redrawsPerSecond : 0.0,
                f.serverCpuPerSecond, f.rssStartMiB, f.rssEndMiB, f.redrawsPerSecond, f.delayP50,
                f.delayP99, qPrintable(behind(f.behindAtEnd, workload)),
                qPrintable(behind(f.behindAfter, workload)), qPrintable(f.window));
}

// The scope alone, with markers in its stream: from a marker line's write to the moment its
// pixels are in the window the X server holds. Empty figures if it could not be measured.
ArrivalFigures printArrival(Xvfb &x, const Plotter &scope, const Workload &workload, double seconds)
{
    const Stream stream(workload, true, true, seconds);
    Plotter plotter = scope;
    plotter.arguments
        = QStringList {"--y-range", QStringLiteral("-%1:%1").arg(Stream::kMarkedRange)}
        + scope.arguments;
    MarkerWatch markers(x.connection(), stream);
    std::printf("  %-21s ", "arrival -> pixels");
    if (!markers.trouble.isEmpty()) {
        std::printf("skipped, %s\n", qPrintable(markers.trouble));
        return {};
    }
    Figures figures;
    QString why;
    Run run(x, plotter, stream, &markers);
    if (!run.measure(figures, &why)) {
        std::printf("skipped, the scope %s\n", qPrintable(why));
        return {};
    }
    if (markers.locatedAt < 0) {
        std::printf("skipped, no black frame of a plot in the scope's window\n");
        return {};
    }
    const ArrivalFigures &f = run.arrivalFigures();
    std::printf("markers written %lld, seen %lld; write -> pixels p50 %.1f, p99 %.1f, max %.1f "
                "ms; shown by the 1st / 2nd / a later damage after the write %lld / %lld / %lld; "
                "the same markers' write -> damage p50 %.1f, p99 %.1f ms, seen before it %lld; "
                "%.1f redraws/s; slowest readback %.1f ms\n",
                qint64(f.markers), qint64(f.seen), percentile(f.delays, 0.5),
                percentile(f.delays, 0.99), percentile(f.delays, 1), qint64(f.byRedraw[0]),
                qint64(f.byRedraw[1]), qint64(f.byRedraw[2]), percentile(f.bounds, 0.5),
                percentile(f.bounds, 0.99), qint64(f.belowBound), figures.redrawsPerSecond,
                markers.slowestReadMs);
    if (f.strays > 0)
        std::printf("  %lld sightings fitted no marker\n", qint64(f.strays));
    if (!markers.frameHeld)
        std::printf("  the plot's frame moved during the run: these figures are not to be "
                    "trusted\n");
    return f;
}

struct Measured
{
    bool scope = false, kst = false, capped = false;
    Figures scopeFigures, kstFigures, cappedFigures; // capped: --max-redraws 30
    ArrivalFigures arrival;
};

QString verdict(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("NOT met");
}

void printGoals(const std::vector<Workload> &all, const std::vector<Measured> &measured,
                const FrameCost &frame)
{
    std::printf("\npidtune-scope's goals, from the figures above:\n");
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Measured &m = measured[i];
        if (!m.scope) {
            std::printf("  %s: the scope was not measured\n", qPrintable(all[i].name));
            continue;
        }
        const Figures &f = m.scopeFigures;
        const double p99 = percentile(m.arrival.delays, 0.99);
        const bool allSeen = m.arrival.markers > 0 && m.arrival.seen == m.arrival.markers;
        std::printf("  %s: %.1f redraws/s (at least 30: %s); arrival -> pixels p99 %.1f ms over "
                    "%lld of %lld markers (at most 50 ms: %s); lines not read 1 s after the end "
                    "%s (none: %s); resident %.1f -> %.1f MiB (flat within %.0f MiB: %s)\n",
                    qPrintable(all[i].name), f.redrawsPerSecond,
                    qPrintable(verdict(f.redrawsPerSecond >= 30)), p99, qint64(m.arrival.seen),
                    qint64(m.arrival.markers), qPrintable(verdict(allSeen && p99 <= 50)),
                    qPrintable(behind(f.behindAfter, all[i])),
                    qPrintable(verdict(f.behindAfter == 0)), f.rssStartMiB, f.rssEndMiB, kFlatMiB,
                    qPrintable(verdict(f.rssEndMiB - f.rssStartMiB < kFlatMiB)));
    }
    if (measured.size() > 2 && measured[2].scope)
        std::printf("  20,000 lines/s x 8: %.3f CPU s/s (at most 0.25: %s)\n",
                    measured[2].scopeFigures.cpuPerSecond,
                    qPrintable(verdict(measured[2].scopeFigures.cpuPerSecond <= 0.25)));
    if (measured[0].scope && measured[1].scope) {
        const double ratio
            = measured[1].scopeFigures.cpuPerSecond / measured[0].scopeFigures.cpuPerSecond;
        std::printf(
            "  noisy 1,000 x 4 against smooth: %.3f / %.3f CPU s/s = %.2f (within 1.5: %s)\n",
            measured[1].scopeFigures.cpuPerSecond, measured[0].scopeFigures.cpuPerSecond, ratio,
            qPrintable(verdict(ratio <= 1.5)));
    }
    bool belowKst = true;
    for (std::size_t i = 0; i < 2; ++i) {
        const Measured &m = measured[i];
        if (!m.scope || !m.kst) {
            std::printf("  %s: no CPU comparison with kst2, one of them was not measured\n",
                        qPrintable(all[i].name));
            belowKst = false;
            continue;
        }
        const bool met = m.scopeFigures.cpuPerSecond < m.kstFigures.cpuPerSecond
            && m.scopeFigures.redrawsPerSecond >= 30;
        const bool cappedMet = m.capped && m.cappedFigures.cpuPerSecond < m.kstFigures.cpuPerSecond
            && m.cappedFigures.redrawsPerSecond >= 30;
        belowKst = belowKst && (met || cappedMet);
        const double kstMs = m.kstFigures.redrawsPerSecond > 0
            ? m.kstFigures.cpuPerSecond * 1000 / m.kstFigures.redrawsPerSecond
            : qQNaN();
        std::printf("  %s: the scope %.3f CPU s/s at %.1f redraws/s, kst2 %.3f at %.1f (below "
                    "kst2's while redrawing at least 30 times a second: %s); kst2 at 30 redraws/s "
                    "would take %.3f CPU s/s (%.2f ms a redraw), the scope takes %.2f ms a "
                    "redraw\n",
                    qPrintable(all[i].name), m.scopeFigures.cpuPerSecond,
                    m.scopeFigures.redrawsPerSecond, m.kstFigures.cpuPerSecond,
                    m.kstFigures.redrawsPerSecond, qPrintable(verdict(met)), kstMs * 30 / 1000,
                    kstMs,
                    m.scopeFigures.redrawsPerSecond > 0
                        ? m.scopeFigures.cpuPerSecond * 1000 / m.scopeFigures.redrawsPerSecond
                        : qQNaN());
        if (m.capped)
            std::printf("    with --max-redraws 30: %.3f CPU s/s at %.1f redraws/s (below kst2's "
                        "while redrawing at least 30 times a second: %s)\n",
                        m.cappedFigures.cpuPerSecond, m.cappedFigures.redrawsPerSecond,
                        qPrintable(verdict(cappedMet)));
    }
    if (!belowKst)
        std::printf("  the floor: one unchanged %dx%d frame put to the X server costs %.2f ms of "
                    "CPU through MIT-SHM as Qt puts it (%.2f client, %.2f server), %.2f through "
                    "the socket (%.2f + %.2f), and moving it by a column within the server "
                    "%.2f ms; 30 whole frames a second thus take %.3f CPU s/s before any "
                    "drawing%s\n",
                    kWidth, kHeight, frame.sharedClientMs + frame.sharedServerMs,
                    frame.sharedClientMs, frame.sharedServerMs,
                    frame.socketClientMs + frame.socketServerMs, frame.socketClientMs,
                    frame.socketServerMs, frame.copyServerMs,
                    30 * (frame.sharedClientMs + frame.sharedServerMs) / 1000,
                    frame.why.isEmpty() ? "" : qPrintable(QStringLiteral(" (%1)").arg(frame.why)));
}

} // namespace

void printFigures(double seconds)
{
    Xvfb x;
    QString why;
    if (!x.start(&why)) {
        std::printf("\nlive plotting on X: skipped, %s\n", qPrintable(why));
        return;
    }
    const FrameCost frame = measureFrameCost(x, kWidth, kHeight);
    std::printf("\none unchanged %dx%d frame on the X server, CPU ms per frame (client + "
                "server): through MIT-SHM %.2f + %.2f, through the socket %.2f + %.2f; moved by "
                "a column within the server: %.2f%s\n",
                kWidth, kHeight, frame.sharedClientMs, frame.sharedServerMs, frame.socketClientMs,
                frame.socketServerMs, frame.copyServerMs,
                frame.why.isEmpty() ? "" : qPrintable(QStringLiteral(" (%1)").arg(frame.why)));
    std::printf("\nlive plotting on an X server (Xvfb), one program after the other, each fed "
                "for %.0f s, a millisecond's lines at a time; the window set to %dx%d; counted "
                "from %.0f s on\n",
                seconds, kWidth, kHeight, Run::kSettleSeconds);
    std::printf("  %-21s %7s %7s %8s %13s %9s %15s %14s %14s %9s\n", "program", "CPU s/s", "ms per",
                "Xvfb s/s", "RSS MiB", "redraws/s", "write->damage", "lines behind", "lines behind",
                "window");
    std::printf("  %-21s %7s %7s %8s %6s %6s %9s %7s %7s %14s %14s\n", "", "", "redraw", "",
                "start", "end", "", "p50 ms", "p99 ms", "at the end", "1 s later");
    const std::vector<Workload> all = workloads();
    std::vector<Measured> measured(all.size());
    QStringList notes;
    for (std::size_t w = 0; w < all.size(); ++w) {
        const Workload &workload = all[w];
        std::printf("%s, %.0f s view:\n", qPrintable(workload.name), workload.viewSeconds);
        const std::vector<Plotter> programs = plotters(workload);
        const Stream labelled(workload, true, false, seconds),
            bare(workload, false, false, seconds);
        for (std::size_t p = 0; p < programs.size(); ++p) {
            const Plotter &plotter = programs[p];
            if (!plotter.missing.isEmpty()) {
                std::printf("  %-21s skipped, %s\n", qPrintable(plotter.label),
                            qPrintable(plotter.missing));
                continue;
            }
            Figures figures;
            Run run(x, plotter, plotter.labelled ? labelled : bare);
            if (!run.measure(figures, &why)) {
                std::printf("  %-21s skipped, %s\n", qPrintable(plotter.label), qPrintable(why));
                continue;
            }
            printRow(plotter, figures, workload);
            if (p == 0) {
                measured[w].scope = true;
                measured[w].scopeFigures = figures;
            } else if (p == 1) {
                measured[w].kst = true;
                measured[w].kstFigures = figures;
            }
            if (!figures.processes.isEmpty())
                std::printf("  %-21s processes, RSS MiB: %s\n", "", qPrintable(figures.processes));
            if (figures.unshown > 0)
                std::printf("  %-21s %lld of %lld lines had no damage after them\n", "",
                            qint64(figures.unshown), qint64(figures.unshown + figures.delays));
        }
        measured[w].arrival = printArrival(x, programs.front(), workload, seconds);
        // The scope again, set up otherwise, on the same lines: its row, or why it was skipped.
        const auto runVariant = [&](const Plotter &variant, Figures *figures) {
            Run run(x, variant, labelled);
            if (!run.measure(*figures, &why)) {
                std::printf("  %-21s skipped, %s\n", qPrintable(variant.label), qPrintable(why));
                return false;
            }
            printRow(variant, *figures, workload);
            return true;
        };
        if (w > 1)
            continue;
        // At 30 redraws a second, the least the goals ask for, to set beside kst2's CPU time.
        Plotter capped = programs.front();
        capped.label = QStringLiteral("  --max-redraws 30");
        capped.arguments = QStringList {"--max-redraws", "30"} + capped.arguments;
        measured[w].capped = runVariant(capped, &measured[w].cappedFigures);
        if (w != 0)
            continue;
        // Where the scope's time goes: the same lines arriving 20 ms at a time (a fiftieth of
        // the wake-ups), and a window of 8000x4000, 33 times the pixels.
        Plotter batched = programs.front(), large = programs.front();
        batched.label = QStringLiteral("  lines every 20 ms");
        batched.writeEveryMs = 20;
        large.label = QStringLiteral("  8000x4000 window");
        large.width = 8000;
        large.height = 4000;
        Figures unused;
        runVariant(batched, &unused);
        runVariant(large, &unused);
    }
    std::printf(
        "CPU s/s: CPU time of the program and every process it started, per second, and per "
        "redraw; Xvfb s/s: the X server's. RSS: the processes' sum, at the start of the count "
        "and at the end.\n"
        "redraws/s: the X server's damage reports on the program's windows, those less than "
        "2 ms apart as one. write->damage: for each line, the time from its write to the first "
        "damage after it, a lower bound of the line's way to the screen.\n"
        "lines behind: lines written that the program had not read when the stream ended, and "
        "a second later (from the pipe, or kst2's position in the file): a program that falls "
        "behind shows lines that arrived that long ago, and loses the rest when it is closed.\n"
        "--max-redraws 30: the scope again, asked for at most 30 redraws a second instead of "
        "50. lines every 20 ms, 8000x4000 window: the scope again, the lines written 20 ms at a "
        "time instead of each millisecond's, or in a window of that size.\n"
        "kst2 reads the file as it grows, its period between updates set to 20 ms; feedgnuplot "
        "reads bare columns on its standard input and replots every 20 ms at most; the scope "
        "reads the same numbers labelled (t=<ms> a=...) on its standard input.\n"
        "arrival -> pixels: the scope alone, the same stream with its values times %.0f on a "
        "fixed axis (--y-range -%.0f:%.0f), every %.1f s one line with a = %+.0f, a marker; "
        "from the marker line's write into the pipe to the first readback (xcb_get_image) that "
        "shows its colour in the plot's pixel row at %+.0f across its last %.0f ms, found once "
        "as its black frame: the scope's parsing, its redraw cap, its paint and its flush. A "
        "marker never seen did not show within %.0f ms of the plot's right edge.\n",
        Stream::kMarkedScale, Stream::kMarkedRange, Stream::kMarkedRange, Stream::kMarkerSeconds,
        Stream::kMarkerValue, MarkerWatch::kRowValue, MarkerWatch::kStripMs, MarkerWatch::kStripMs);
    printGoals(all, measured, frame);
}

#endif

} // namespace liveplot
