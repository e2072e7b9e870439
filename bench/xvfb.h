// SPDX-License-Identifier: MIT
#pragma once

#if defined(PIDTUNE_BENCH_X11)

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <xcb/xcb.h>

// An Xvfb of the bench's own on a free display, with a connection to it that is told of every
// top-level window's creation and mapping, and the DAMAGE extension ready on it.
class Xvfb
{
public:
    Xvfb() = default;
    Xvfb(const Xvfb &) = delete;
    Xvfb &operator=(const Xvfb &) = delete;
    ~Xvfb();

    // On failure, *why says why.
    bool start(QString *why);

    QByteArray display() const { return name; }
    xcb_connection_t *connection() const { return link; }
    xcb_window_t root() const { return rootWindow; }
    // The event type of a DamageNotify.
    uint8_t damageNotify() const { return damageEvent; }
    qint64 processId() const { return server.processId(); }
    // The system's environment with this display, the xcb platform and no Wayland.
    QProcessEnvironment environment() const;

private:
    QProcess server;
    QByteArray name;
    xcb_connection_t *link = nullptr;
    xcb_window_t rootWindow = 0;
    uint8_t damageEvent = 0;
};

#endif
