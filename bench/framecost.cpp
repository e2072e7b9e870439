// SPDX-License-Identifier: MIT
#include "framecost.h"

#if defined(PIDTUNE_BENCH_X11)

#include "processinfo.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <vector>

#if defined(PIDTUNE_BENCH_SHM)
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#endif

namespace liveplot {

namespace {

constexpr int kFrames = 300;

double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Waits until the server has done every request so far.
void sync(xcb_connection_t *connection)
{
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

// Runs `frame` kFrames times and gives the client's and the server's CPU ms per frame.
template<typename F> void perFrame(Xvfb &x, F &&frame, double *client, double *server)
{
    sync(x.connection());
    const double clientStart = threadCpuMs(), serverStart = processinfo::threadCpuMs(x.processId());
    for (int i = 0; i < kFrames; ++i) {
        frame(i);
        sync(x.connection());
    }
    *client = (threadCpuMs() - clientStart) / kFrames;
    *server = (processinfo::threadCpuMs(x.processId()) - serverStart) / kFrames;
}

} // namespace

FrameCost measureFrameCost(Xvfb &x, int width, int height)
{
    FrameCost cost;
    xcb_connection_t *c = x.connection();
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t values[] = {screen->white_pixel};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, uint16_t(width),
                      uint16_t(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL, values);
    xcb_map_window(c, window);
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, window, 0, nullptr);
    // A frame of a plot: white with a few coloured rows, the same every time.
    const std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
    std::vector<uint8_t> pixels(bytes, 0xff);
    for (std::size_t i = 0; i < bytes; i += 4 * 97)
        pixels[i] = 0x1f;

    // Through the socket, in as few requests as the server takes.
    const uint32_t longest = std::max<uint32_t>(xcb_get_maximum_request_length(c) * 4, 1 << 16);
    const int rowsPerRequest = std::max(1, int((longest - 64) / (uint32_t(width) * 4)));
    perFrame(
        x,
        [&](int) {
            for (int row = 0; row < height; row += rowsPerRequest) {
                const int rows = std::min(rowsPerRequest, height - row);
                xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, gc, uint16_t(width),
                              uint16_t(rows), 0, int16_t(row), 0, screen->root_depth,
                              uint32_t(rows) * uint32_t(width) * 4,
                              pixels.data() + std::size_t(row) * std::size_t(width) * 4);
            }
        },
        &cost.socketClientMs, &cost.socketServerMs);

    double copyClient = 0;
    perFrame(
        x,
        [&](int) {
            xcb_copy_area(c, window, window, gc, 1, 0, 0, 0, uint16_t(width - 1), uint16_t(height));
        },
        &copyClient, &cost.copyServerMs);

#if defined(PIDTUNE_BENCH_SHM)
    const xcb_query_extension_reply_t *shm = xcb_get_extension_data(c, &xcb_shm_id);
    const int id = shm && shm->present ? ::shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600) : -1;
    void *memory = id >= 0 ? ::shmat(id, nullptr, 0) : reinterpret_cast<void *>(-1);
    if (memory != reinterpret_cast<void *>(-1)) {
        std::copy(pixels.begin(), pixels.end(), static_cast<uint8_t *>(memory));
        const xcb_shm_seg_t segment = xcb_generate_id(c);
        xcb_shm_attach(c, segment, uint32_t(id), 0);
        perFrame(
            x,
            [&](int) {
                xcb_shm_put_image(c, window, gc, uint16_t(width), uint16_t(height), 0, 0,
                                  uint16_t(width), uint16_t(height), 0, 0, screen->root_depth,
                                  XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment, 0);
            },
            &cost.sharedClientMs, &cost.sharedServerMs);
        xcb_shm_detach(c, segment);
        sync(c);
        ::shmdt(memory);
    } else {
        cost.why = QStringLiteral("no MIT-SHM on this server");
    }
    if (id >= 0)
        ::shmctl(id, IPC_RMID, nullptr);
#else
    cost.why = QStringLiteral("built without xcb-shm (apt-get install libxcb-shm0-dev)");
#endif
    xcb_free_gc(c, gc);
    xcb_destroy_window(c, window);
    sync(c);
    // The window's own events are no plotter's.
    while (xcb_generic_event_t *event = xcb_poll_for_event(c))
        std::free(event);
    return cost;
}

} // namespace liveplot

#endif
