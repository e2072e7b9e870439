// SPDX-License-Identifier: MIT
#include "commandline.h"

#include "cli/commandline.h"
#include "cli/qtoptions.h"
#include "pidtune_config.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace pidtune {

namespace {

constexpr char kProgram[] = "pidtune";

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
    cli::addQtOptions(parser, withQtOptions);
}

} // namespace

std::optional<int> handleCommandLine(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("pidtune"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PIDTUNE_VERSION));

    const QStringList arguments = cli::arguments(argc, argv);
    QCommandLineParser parser;
    describe(parser, false);

    QString refusal;
    if (!parser.parse(arguments))
        refusal = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        refusal
            = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
    const bool helpAll = parser.isSet(QStringLiteral("help-all"));
    const bool answered = !refusal.isEmpty() || helpAll || parser.isSet(QStringLiteral("help"))
        || parser.isSet(QStringLiteral("version"));
    if (!answered)
        return std::nullopt;
    // The window's program has no console of its own on Windows: the answer goes to the
    // command prompt that started it.
    cli::useParentConsole();
    if (!refusal.isEmpty())
        return cli::refuse(kProgram, refusal);
    if (parser.isSet(QStringLiteral("version")))
        return cli::printVersion(kProgram);
    // The help names the program from the application object's arguments. A core one needs no
    // display.
    QCoreApplication core(argc, argv);
    QCommandLineParser help;
    describe(help, helpAll);
    return cli::printText(kProgram, help.helpText());
}

} // namespace pidtune
