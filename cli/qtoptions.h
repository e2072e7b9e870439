// SPDX-License-Identifier: MIT
#pragma once

#include <QCommandLineParser>

namespace pidtune::cli {

// The options QApplication takes out of argv itself: a program's own command line knows them
// only so that it does not refuse them, and --help-all lists them. Shared by pidtune and
// pidtune-scope, which read their arguments before the QApplication (and its display) exists.
inline void addQtOptions(QCommandLineParser &parser, bool visible)
{
    struct QtOption
    {
        const char *name;
        const char *value; // null for an option that takes none
        const char *description;
    };
    static constexpr QtOption kQtOptions[] = {
        {"platform", "name[:options]", "Qt platform plugin: xcb, wayland, offscreen, ..."},
        {"platformpluginpath", "path", "Where to look for platform plugins."},
        {"platformtheme", "name", "Qt platform theme."},
        {"plugin", "plugin", "Loads an input plugin."},
        {"display", "display", "X display to open the window on (xcb)."},
        {"qwindowgeometry", "geometry", "Window geometry, WxH+X+Y."},
        {"geometry", "geometry", "The same as -qwindowgeometry (xcb)."},
        {"qwindowtitle", "title", "Window title."},
        {"title", "title", "The same as -qwindowtitle (xcb)."},
        {"qwindowicon", "file", "Window icon."},
        {"icon", "file", "The same as -qwindowicon (xcb)."},
        {"name", "name", "Application name for the window manager (xcb)."},
        {"visual", "visual", "X visual (xcb)."},
        {"nograb", nullptr, "Never grab the mouse or keyboard (xcb)."},
        {"dograb", nullptr, "Grab the mouse and keyboard even under a debugger (xcb)."},
        {"reverse", nullptr, "Lays the window out right to left."},
        {"session", "session", "Restores the session of that name."},
        {"style", "style", "Widget style: Fusion, Windows, ..."},
        {"stylesheet", "file", "Qt style sheet to apply."},
        {"widgetcount", nullptr, "Prints how many widgets were left undestroyed at exit."},
        {"testability", nullptr, "Loads the testability plugin."},
        {"qmljsdebugger", "options", "QML debugger options."},
    };
    for (const QtOption &qt : kQtOptions) {
        QCommandLineOption option(QString::fromLatin1(qt.name), QString::fromLatin1(qt.description),
                                  QString::fromLatin1(qt.value));
        if (!visible)
            option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

} // namespace pidtune::cli
