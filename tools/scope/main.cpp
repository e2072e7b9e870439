// SPDX-License-Identifier: MIT
// pidtune-scope: plots a device's telemetry lines live and measures each step of its set-point.
#include "cli/commandline.h"
#include "scopeoptions.h"
#include "scopewindow.h"
#include "serial/stopsignals.h"
#include "source.h"
#include "telemetry.h"

#include <QApplication>

#include <cstdio>

using namespace pidtune::scope;

namespace {

void say(const QString &message)
{
    pidtune::cli::say("pidtune-scope", message);
}

// Standard output carries only lines for scripts, each flushed at once.
void print(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    ScopeOptions options;
    if (const std::optional<int> status = readCommandLine(argc, argv, &options))
        return *status;
    // No widget here draws with OpenGL; without this Qt 5 on X11 loads the GL driver stack.
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("pidtune-scope"));

    Telemetry telemetry(options.telemetry);
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
    if (options.fixedRange)
        window.setFixedRange(options.rangeLow, options.rangeHigh);
    QObject::connect(source.get(), &Source::received, &telemetry, &Telemetry::feed);
    QObject::connect(&telemetry, &Telemetry::stepMeasured, &window, [&](const StepMetrics &step) {
        print(stepLine(step));
        window.showStep(step);
    });
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
    return status;
}
