// SPDX-License-Identifier: MIT
// pidtune-scope: plots a device's telemetry lines live and measures each step of its set-point.
#include "cli/commandline.h"
#include "scopeoptions.h"
#include "scopewindow.h"
#include "serial/stopsignals.h"
#include "source.h"
#include "standardstreams.h"
#include "telemetry.h"
#include "tuningpanel.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

using namespace pidtune::scope;

namespace {

void say(const QString &message)
{
    pidtune::cli::say("pidtune-scope", message);
}

bool outputLost = false;

// Standard output carries only lines for scripts, each flushed at once. One that cannot be
// written (its reader went away, the disk is full) is said once; the scope goes on, for the
// window and a relayed device, and ends with status 1.
void print(const QString &line)
{
    const bool written
        = std::fputs(qPrintable(line + QLatin1Char('\n')), stdout) >= 0 && std::fflush(stdout) == 0;
    if (!written && !outputLost) {
        say(QStringLiteral("cannot write to standard output: %1").arg(qt_error_string()));
        outputLost = true;
    }
}

QtMessageHandler qtMessages = nullptr;

// While the window's application starts: it ends the program if there is no display, and that
// must be an exit status of 1 with the reason, as for any source that cannot be opened, not an
// abort.
void startupMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg) {
        if (qtMessages)
            qtMessages(type, context, message);
        else
            std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
        return;
    }
    say(QStringLiteral("cannot start the window: %1").arg(message));
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

int main(int argc, char *argv[])
{
    pidtune::StopSignals::holdUntilWatched();
    const ClosedStreams closed = guardStandardStreams();
    ScopeOptions options;
    if (const std::optional<int> status = readCommandLine(argc, argv, &options))
        return *status;
    if (closed.input && options.source == QLatin1String("-")) {
        say(QStringLiteral("cannot open -: standard input is closed"));
        return 1;
    }
    if (closed.output)
        say(QStringLiteral("standard output is closed: the step lines go nowhere"));
    // No widget here draws with OpenGL; without this Qt 5 on X11 loads the GL driver stack.
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    qtMessages = qInstallMessageHandler(startupMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtMessages);
    QGuiApplication::setDesktopFileName(QStringLiteral("pidtune-scope"));

    Telemetry telemetry(options.telemetry);
    telemetry.parameters().setNames(options.parameterNames);
    const QString name = options.relayPort.isEmpty() ? options.source : options.relayPort;
    QString error;
    QByteArray timeColumn;
    const std::unique_ptr<Source> source = openSource(options, &timeColumn, &error);
    if (!source) {
        say(QStringLiteral("cannot open %1: %2").arg(name, error));
        return 1;
    }
    if (!timeColumn.isEmpty())
        telemetry.setTimeField(timeColumn, 1); // a CSV's times are seconds
    if (const QString ptyPath = source->relayPath(); !ptyPath.isEmpty()) {
        print(QStringLiteral("pty: %1").arg(ptyPath));
        say(QStringLiteral("relaying %1 at %2 8N1: start pidtune with PIDTUNE_EXTRA_PORTS=%3 and "
                           "open that port")
                .arg(name)
                .arg(options.baudRate)
                .arg(ptyPath));
    }

    ScopeWindow window(telemetry, name == QLatin1String("-") ? ScopeWindow::tr("标准输入") : name);
    window.setWindowSeconds(options.windowSeconds);
    window.setMaxRedrawsPerSecond(options.maxRedrawsPerSecond);
    if (options.fixedRange)
        window.setFixedRange(options.rangeLow, options.rangeHigh);
    QObject::connect(source.get(), &Source::received, &telemetry, &Telemetry::feed);
    QObject::connect(source.get(), &Source::parameterSent, &telemetry, &Telemetry::parameterSent);
    QObject::connect(source.get(), &Source::parametersUnsent, &telemetry,
                     &Telemetry::parametersUnsent);
    QObject::connect(source.get(), &Source::parameterRecorded, &telemetry,
                     &Telemetry::parameterRecorded);
    QObject::connect(&telemetry, &Telemetry::stepMeasured, &window, [&](const StepMetrics &step) {
        print(stepLine(step));
        window.showStep(step);
    });
    QObject::connect(source.get(), &Source::lost, &window, [&](const QString &what) {
        say(what);
        window.showLoss(what);
    });
    // Suggestions are the panel's, at the operator's tauc: printed with each model and relay
    // cycle and when the operator chooses again; the next step is checked against its choice.
    TuningPanel *const panel = window.tuningPanel();
    const auto printSuggestions = [&](const std::vector<Suggestion> &suggestions) {
        for (const Suggestion &suggestion : suggestions)
            print(suggestLine(suggestion, options.telemetry.tuning.form));
        if (const std::optional<Suggestion> chosen = panel->chosen())
            telemetry.tuner().choose(*chosen);
    };
    QObject::connect(
        &telemetry, &Telemetry::stepPredicted, &window,
        [&](const StepMetrics &step, const Prediction &prediction, const QString &rule) {
            print(predictedLine(step, prediction, rule));
            window.showPrediction(step, prediction, rule);
        });
    QObject::connect(&telemetry, &Telemetry::stepModelled, &window, [&](const StepModel &model) {
        print(modelLine(model));
        window.showModel(model);
        printSuggestions(panel->suggestions());
    });
    QObject::connect(&telemetry, &Telemetry::relayMeasured, &window, [&](const RelayTuning &relay) {
        print(relayLine(relay));
        window.showRelay(relay);
        printSuggestions(relay.suggestions);
    });
    QObject::connect(panel, &TuningPanel::choiceChanged, &window,
                     [&] { printSuggestions(panel->suggestions()); });
    QObject::connect(source.get(), &Source::ended, &window, [&](const QString &reason) {
        say(reason);
        telemetry.finish();
        window.showSourceEnded(reason);
        if (options.exitAtEnd)
            window.close();
    });
    // A stop signal closes the window as the operator would; the ports close with the source.
    pidtune::StopSignals stopSignals;
    QObject::connect(&stopSignals, &pidtune::StopSignals::stopRequested, &window, &QWidget::close);
    window.show();
    const int status = QApplication::exec();
    telemetry.finish(Cut::Closed); // the step under way
    return status != 0 ? status : outputLost ? 1 : 0;
}
