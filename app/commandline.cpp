// SPDX-License-Identifier: MIT
#include "commandline.h"

#include "qtoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace pidtune {

namespace {

constexpr int kUsageError = 2;

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
    addQtOptions(parser, withQtOptions);
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
