// SPDX-License-Identifier: MIT
#pragma once

#if defined(PIDTUNE_BENCH_X11)

#include "telemetrystream.h"

#include <QRect>
#include <QString>

#include <chrono>
#include <cstdint>
#include <vector>

#include <xcb/xcb.h>

namespace liveplot {

using Clock = std::chrono::steady_clock;

// When each marker of the stream showed: its delay from write to pixels, and how these compare
// with the first damage after the write.
struct ArrivalFigures
{
    qsizetype markers = 0; // written while watched
    qsizetype seen = 0;
    qsizetype strays = 0; // sightings that fit no marker
    qsizetype belowBound = 0; // seen sooner than the first damage after their write
    std::vector<double> delays, bounds; // ms, of the markers seen
    qsizetype byRedraw[3]
        = {}; // shown by the first redraw after the write, the second, a later one
};

// Reads the scope's window back from the X server after each of its damages and notes when a
// marker first shows near the right edge of its plot: one pixel row of the band at the top of
// its fixed range, across the plot's last kStripMs. The plot is found once in the pixels, as
// its black frame, so that nothing of the scope's layout is assumed but its axis mapping: one
// column per pixel inside the frame, the range's ends on its first and last row.
class MarkerWatch
{
public:
    static constexpr double kStripMs = 400; // the part of the plot read back, before its right edge
    static constexpr double kRowValue = 18; // the pixel row read back, inside the band
    static constexpr std::uint32_t kColour = 0x1f77b4; // the scope's first series colour

    MarkerWatch(xcb_connection_t *connection, const Stream &stream);

    // After a damage of `window`, with `lines` lines written in full so far.
    void damaged(xcb_window_t window, qint64 lines, Clock::time_point origin);
    // Whether the plot is still where it was found: a layout change would have moved the strip.
    void checkFrame();
    // Each sighting is the newest marker that the scope can have drawn that far from its
    // newest line, given the lines written by then; markers are 0.7 s apart, so this holds as
    // long as the scope's newest line lags less than about that behind the bench's.
    ArrivalFigures figures(const std::vector<double> &written, const std::vector<double> &frames,
                           double from, double end) const;

    QString trouble; // why the pixels cannot be read, if so
    double locatedAt = -1; // ms after the origin, once the plot is found
    QRect frame; // the plot's frame in the window, its lines included
    bool frameHeld = false;
    int row = 0, stripWidth = 0;
    double slowestReadMs = 0;

private:
    // A marker that looked new in the strip.
    struct Sighting
    {
        double at; // ms after the origin: when the readback that showed it had come back
        double ageMs; // at least this much of the scope's newer data was drawn to its right
        qint64 lines; // lines written in full by the time of its damage
    };

    std::vector<std::uint32_t> read(xcb_window_t from, int x, int y, int width, int height) const;
    int rightmostMarker() const;
    bool findFrame(xcb_window_t in, QRect *found) const;

    xcb_connection_t *const connection;
    const Stream &stream;
    bool lsbFirst = true;
    xcb_window_t window = 0;
    double msPerPixel = 1;
    int previous = -1;
    double lastSearch = -1e9;
    std::vector<Sighting> sightings;
};

} // namespace liveplot

#endif
