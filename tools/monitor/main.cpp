// SPDX-License-Identifier: MIT
// pidtune-monitor: prints the parameter frames arriving on a serial line, one line each.
#include "cli/commandline.h"
#include "framemonitor.h"
#include "pidtune_config.h"
#include "serial/stopsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

constexpr char kProgram[] = "pidtune-monitor";

void say(const QString &message)
{
    pidtune::cli::say(kProgram, message);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pidtune-monitor"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PIDTUNE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Prints each pidtune parameter frame arriving on a serial line (115200 8N1, no flow "
        "control) as one line:\n"
        "  time  id=<identifier>  value=<value>  <the 9 bytes in hex>  skipped=<noise bytes "
        "before it>\n"
        "Ctrl-C prints a summary and stops."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption ptyOption(
        QStringLiteral("pty"),
        QStringLiteral("Create a pseudo-terminal instead of opening a port, print its path "
                       "('pty: /dev/pts/N') and watch it. pidtune lists it when started with "
                       "PIDTUNE_EXTRA_PORTS set to that path."));
    parser.addOption(ptyOption);
    parser.addPositionalArgument(
        QStringLiteral("port"), QStringLiteral("The serial port to watch: /dev/ttyUSB0, COM3, ..."),
        QStringLiteral("[port]"));

    if (!parser.parse(QCoreApplication::arguments()))
        return pidtune::cli::refuse(kProgram, parser.errorText());
    if (parser.isSet(helpOption))
        return pidtune::cli::printText(kProgram, parser.helpText());
    if (parser.isSet(versionOption))
        return pidtune::cli::printVersion(kProgram);

    const QStringList ports = parser.positionalArguments();
    const bool usePty = parser.isSet(ptyOption);
    if (usePty && !ports.isEmpty())
        return pidtune::cli::refuse(kProgram,
                                    QStringLiteral("give either a port or --pty, not both"));
    if (!usePty && ports.isEmpty())
        return pidtune::cli::refuse(
            kProgram,
            QStringLiteral("no port given: name one (e.g. %1)%2")
                .arg(pidtune::cli::examplePort(),
                     pidtune::kHavePseudoTerminals ? QStringLiteral(" or use --pty") : QString()));
    if (ports.size() > 1)
        return pidtune::cli::refuse(
            kProgram,
            QStringLiteral("one port at a time, not %1").arg(ports.join(QLatin1Char(' '))));

    // In place before the port opens, so that Ctrl-C at any moment still prints the summary.
    FrameMonitor monitor(stdout);
    pidtune::StopSignals stopSignals;
    QObject::connect(&stopSignals, &pidtune::StopSignals::stopRequested, &app, [&monitor] {
        monitor.printSummary();
        QCoreApplication::exit(std::ferror(stdout) ? 1 : 0); // a lost summary was reported
    });
    QObject::connect(&monitor, &FrameMonitor::failed, &app, [&monitor](const QString &reason) {
        say(reason);
        monitor.printSummary();
        QCoreApplication::exit(1);
    });

    QString error;
    if (usePty) {
        QString path;
        if (!monitor.watchPseudoTerminal(&path, &error)) {
            say(error);
            return 1;
        }
        std::printf("pty: %s\n", qPrintable(path));
        if (const int status = pidtune::cli::finishOutput(kProgram))
            return status;
        say(QStringLiteral("start pidtune with PIDTUNE_EXTRA_PORTS=%1 and open that port; "
                           "Ctrl-C stops")
                .arg(path));
    } else {
        if (!monitor.watchSerialPort(ports.first(), &error)) {
            say(QStringLiteral("cannot open %1: %2").arg(ports.first(), error));
            return 1;
        }
        say(QStringLiteral("watching %1 at 115200 8N1; Ctrl-C stops").arg(ports.first()));
    }
    return QCoreApplication::exec();
}
