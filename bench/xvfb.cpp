// SPDX-License-Identifier: MIT
#include "xvfb.h"

#if defined(PIDTUNE_BENCH_X11)

#include <QDeadlineTimer>
#include <QStandardPaths>

#include <cstdlib>
#include <xcb/damage.h>

Xvfb::~Xvfb()
{
    if (link)
        xcb_disconnect(link);
    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        if (!server.waitForFinished(5000)) {
            server.kill();
            server.waitForFinished(5000);
        }
    }
}

bool Xvfb::start(QString *why)
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty()) {
        *why = QStringLiteral("no Xvfb (apt-get install xvfb)");
        return false;
    }
    // -displayfd: Xvfb picks a free display and writes its number once it accepts clients.
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(xvfb, {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
    QDeadlineTimer deadline(20000);
    while (!server.canReadLine() && server.waitForReadyRead(int(deadline.remainingTime()))) { }
    const QByteArray number = server.readLine().trimmed();
    if (number.isEmpty()) {
        *why = QStringLiteral("Xvfb did not start");
        return false;
    }
    name = ":" + number;
    link = xcb_connect(name.constData(), nullptr);
    if (xcb_connection_has_error(link)) {
        *why = QStringLiteral("cannot connect to Xvfb on %1").arg(QString::fromLatin1(name));
        return false;
    }
    const xcb_query_extension_reply_t *damage = xcb_get_extension_data(link, &xcb_damage_id);
    if (!damage || !damage->present) {
        *why = QStringLiteral("Xvfb has no DAMAGE extension");
        return false;
    }
    damageEvent = damage->first_event + XCB_DAMAGE_NOTIFY;
    std::free(xcb_damage_query_version_reply(link, xcb_damage_query_version(link, 1, 1), nullptr));
    rootWindow = xcb_setup_roots_iterator(xcb_get_setup(link)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(link, rootWindow, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(link);
    return true;
}

QProcessEnvironment Xvfb::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(name));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return environment;
}

#endif
