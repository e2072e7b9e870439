// SPDX-License-Identifier: MIT
#include "markerwatch.h"

#if defined(PIDTUNE_BENCH_X11)

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

namespace liveplot {

MarkerWatch::MarkerWatch(xcb_connection_t *connection, const Stream &stream)
    : connection(connection), stream(stream)
{
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const xcb_screen_t *screen = xcb_setup_roots_iterator(setup).data;
    bool rgb = false;
    for (auto depth = xcb_screen_allowed_depths_iterator(screen); depth.rem;
         xcb_depth_next(&depth)) {
        for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem;
             xcb_visualtype_next(&visual)) {
            if (visual.data->visual_id == screen->root_visual)
                rgb = visual.data->red_mask == 0xff0000 && visual.data->green_mask == 0xff00
                    && visual.data->blue_mask == 0xff;
        }
    }
    bool wide = false;
    for (auto format = xcb_setup_pixmap_formats_iterator(setup); format.rem;
         xcb_format_next(&format))
        wide = wide || (format.data->depth == 24 && format.data->bits_per_pixel == 32);
    lsbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    if (!rgb || !wide)
        trouble = QStringLiteral("the X server's pixels are not 8-bit RGB in 32 bits");
}

void MarkerWatch::damaged(xcb_window_t damagedWindow, qint64 lines, Clock::time_point origin)
{
    const auto since = [&] {
        return std::chrono::duration<double, std::milli>(Clock::now() - origin).count();
    };
    if (window == 0) {
        // A whole window's readback is 4 MB: twice a second until the plot is found.
        const double now = since();
        if (now - lastSearch < 500)
            return;
        lastSearch = now;
        QRect found;
        if (!findFrame(damagedWindow, &found))
            return;
        window = damagedWindow;
        frame = found;
        // Inside the frame: a column per pixel, the range's top on the first row, its bottom
        // on the last.
        const int columns = frame.width() - 2, rows = frame.height() - 2;
        msPerPixel = stream.workload().viewSeconds * 1000 / columns;
        row = frame.top() + 1
            + int(std::lround((rows - 1) * (Stream::kMarkedRange - kRowValue)
                              / (2 * Stream::kMarkedRange)));
        stripWidth = std::min(columns, int(std::ceil(kStripMs / msPerPixel)));
        previous = rightmostMarker(); // whatever shows now is old
        locatedAt = since();
        return;
    }
    if (damagedWindow != window)
        return;
    const auto asked = Clock::now();
    const int at = rightmostMarker();
    const double now = since();
    slowestReadMs = std::max(
        slowestReadMs, std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
    // A marker only moves left; one further right than the last is the next. Its line is
    // older than the newest line drawn, in the last column, by more than a column less than
    // their distance.
    if (at >= 0 && (previous < 0 || at > previous + 2))
        sightings.push_back({now, std::max(0, frame.right() - 2 - at) * msPerPixel, lines});
    previous = at;
}

void MarkerWatch::checkFrame()
{
    QRect now;
    frameHeld = window != 0 && findFrame(window, &now) && now == frame;
}

ArrivalFigures MarkerWatch::figures(const std::vector<double> &written,
                                    const std::vector<double> &frames, double from,
                                    double end) const
{
    ArrivalFigures f;
    std::map<qint64, double> shown;
    qint64 last = 0;
    const qint64 every = stream.markerEvery();
    for (const Sighting &s : sightings) {
        const double newest
            = double(s.lines - 1) - s.ageMs * stream.workload().linesPerSecond / 1000;
        const qint64 marker = qint64(std::floor(newest / double(every))) * every;
        if (marker <= last) {
            ++f.strays;
            continue;
        }
        last = marker;
        shown[marker] = s.at;
    }
    from = std::max(from, locatedAt);
    for (qint64 n = every; n < qint64(written.size()); n += every) {
        const double at = written[std::size_t(n)];
        if (at < from || at >= end)
            continue;
        ++f.markers;
        const auto sighting = shown.find(n);
        if (sighting == shown.end())
            continue;
        ++f.seen;
        f.delays.push_back(sighting->second - at);
        const auto first = std::lower_bound(frames.begin(), frames.end(), at);
        if (first != frames.end()) {
            f.bounds.push_back(*first - at);
            if (*first > sighting->second)
                ++f.belowBound;
        }
        const auto redraws = std::upper_bound(first, frames.end(), sighting->second) - first;
        ++f.byRedraw[std::clamp<std::ptrdiff_t>(redraws, 1, 3) - 1];
    }
    return f;
}

// The window's pixels as 0xRRGGBB, row after row; empty if the server gave none.
std::vector<std::uint32_t> MarkerWatch::read(xcb_window_t from, int x, int y, int width,
                                             int height) const
{
    std::vector<std::uint32_t> pixels;
    xcb_generic_error_t *error = nullptr;
    xcb_get_image_reply_t *reply
        = xcb_get_image_reply(connection,
                              xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, from, int16_t(x),
                                            int16_t(y), uint16_t(width), uint16_t(height), ~0u),
                              &error);
    std::free(error);
    if (!reply)
        return pixels;
    const std::size_t count = std::size_t(width) * std::size_t(height);
    if ((reply->depth == 24 || reply->depth == 32)
        && std::size_t(xcb_get_image_data_length(reply)) >= count * 4) {
        const uint8_t *data = xcb_get_image_data(reply);
        pixels.resize(count);
        for (std::size_t i = 0; i < count; ++i, data += 4)
            pixels[i] = lsbFirst ? uint32_t(data[0] | data[1] << 8 | data[2] << 16)
                                 : uint32_t(data[3] | data[2] << 8 | data[1] << 16);
    }
    std::free(reply);
    return pixels;
}

// The strip's rightmost column in the marker's colour, counted in the window; -1 if none.
int MarkerWatch::rightmostMarker() const
{
    const int left = frame.right() - stripWidth;
    const std::vector<std::uint32_t> strip = read(window, left, row, stripWidth, 1);
    for (int i = int(strip.size()) - 1; i >= 0; --i) {
        if (strip[std::size_t(i)] == kColour)
            return left + i;
    }
    return -1;
}

// The plot's frame: the one black rectangle at least a third of the window wide.
bool MarkerWatch::findFrame(xcb_window_t in, QRect *found) const
{
    xcb_get_geometry_reply_t *geometry
        = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, in), nullptr);
    if (!geometry)
        return false;
    const int width = geometry->width, height = geometry->height;
    std::free(geometry);
    const std::vector<std::uint32_t> image = read(in, 0, 0, width, height);
    if (image.empty())
        return false;
    const auto black = [&](int x, int y) {
        return image[std::size_t(y) * std::size_t(width) + std::size_t(x)] == 0;
    };
    int top = -1, bottom = -1, left = 0, right = 0;
    for (int y = 0; y < height; ++y) {
        int longest = 0, start = 0, run = 0;
        for (int x = 0; x < width; ++x) {
            run = black(x, y) ? run + 1 : 0;
            if (run > longest) {
                longest = run;
                start = x - run + 1;
            }
        }
        if (longest < width / 3)
            continue;
        if (top < 0) {
            top = y;
            left = start;
            right = start + longest - 1;
        } else if (start == left && start + longest - 1 == right) {
            bottom = y;
        }
    }
    if (top < 0 || bottom < top + 50)
        return false;
    int covered = 0;
    for (int y = top; y <= bottom; ++y)
        covered += black(left, y) && black(right, y) ? 0 : 1;
    if (covered > (bottom - top) / 10)
        return false;
    *found = QRect(QPoint(left, top), QPoint(right, bottom));
    return true;
}

} // namespace liveplot

#endif
