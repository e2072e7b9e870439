// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <vector>

namespace liveplot {

// What a live plotter is fed: so many series at so many lines a second, shown over a view of so
// many seconds, with or without sensor noise.
struct Workload
{
    QString name;
    int series;
    int linesPerSecond;
    double noise; // uniform, within +-this share of a series' full scale (2)
    double viewSeconds;
};

// The generated lines of a workload, all of them made before the run so that making them costs
// the run nothing: four shapes of series taking turns (a sine, a faster smaller one, a
// sawtooth, and noise from a hash of the line), each with the workload's noise added. The first
// four series with no noise are the lines the bench has always fed.
//
// Labelled, as the scope reads them: "t=<ms> a=... b=...". Bare, as the peers read them: the
// time first in seconds, then the values. With markers, for the scope's arrival-to-pixels run:
// the values ten times larger, and every kMarkerSeconds one line whose first series is at
// kMarkerValue, far above all others.
class Stream
{
public:
    static constexpr double kMarkerSeconds = 0.7; // does not divide a view of 10 or 60 s
    static constexpr double kMarkerValue = 19;
    static constexpr double kMarkedScale = 10;
    static constexpr double kMarkedRange = 20; // the scope's --y-range -20:20

    Stream(const Workload &workload, bool labelled, bool markers, double seconds);

    const Workload &workload() const { return load; }
    bool hasMarkers() const { return markers; }
    qint64 lines() const { return qint64(ends.size()); }
    // Line n is text [end(n - 1), end(n)).
    qint64 end(qint64 line) const { return line < 0 ? 0 : ends[size_t(line)]; }
    const QByteArray &text() const { return all; }
    double timeOf(qint64 line) const { return double(line) / load.linesPerSecond; }
    qint64 markerEvery() const; // lines
    bool isMarker(qint64 line) const;
    // The name the scope shows for a series.
    static QByteArray name(int series);

private:
    Workload load;
    bool markers;
    QByteArray all;
    std::vector<qint64> ends;
};

} // namespace liveplot
