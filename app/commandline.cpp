// SPDX-License-Identifier: MIT
#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace pidtune {

namespace {

constexpr int kUsageError = 2;

struct QtOption
{
    const char *name;
    const char *value; // null for an option that takes none
    const char *description;
};

// The options QApplication takes out of argv itself. They are known here only so that they are
// not refused; --help-all lists them.
constexpr QtOption kQtOptions[] = {
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

// Output that could not be written must not look like success: pidtune --help >/dev/full.
int finishOutput()
{
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

void describe(QCommandLineParser &parser, bool withQtOptions)
{
    parser.setApplicationDescription(QStringLiteral(
        "Tunes a device's controller parameters over a serial line: each slider release\n"
        "sends one 9-byte parameter frame. Settings.ini in the working directory fills the\n"
        "channels at start-up; PIDTUNE_EXTRA_PORTS adds ports the system does not list.\n"
        "Qt's standard options (-platform, -style, -geometry, ...) work as in any Qt\n"
        "program: --help-all lists them, pidtune(1) tells more."));
    // Qt's options are single-dash words (-platform), not bundles of one-letter options.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    for (const QtOption &qt : kQtOptions) {
        QCommandLineOption option(QString::fromLatin1(qt.name), QString::fromLatin1(qt.description),
                                  QString::fromLatin1(qt.value));
        if (!withQtOptions)
            option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

} // namespace

std::optional<int> handleCommandLine(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("pidtune"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PIDTUNE_VERSION));

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    describe(parser, false);

    QString refusal;
    if (!parser.parse(arguments))
        refusal = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        refusal
            = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
    if (!refusal.isEmpty()) {
        std::fprintf(stderr, "pidtune: %s\nTry 'pidtune --help' for more information.\n",
                     qPrintable(refusal));
        return kUsageError;
    }

    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("pidtune %s\n", PIDTUNE_VERSION);
        return finishOutput();
    }
    const bool helpAll = parser.isSet(QStringLiteral("help-all"));
    if (helpAll || parser.isSet(QStringLiteral("help"))) {
        // The help names the program from the application object's arguments. A core one needs
        // no display.
        QCoreApplication core(argc, argv);
        QCommandLineParser help;
        describe(help, helpAll);
        std::fputs(qPrintable(help.helpText()), stdout);
        return finishOutput();
    }
    return std::nullopt;
}

} // namespace pidtune
