// SPDX-License-Identifier: MIT
// pidtune and pidtune-monitor as processes started without any display: what their command lines
// answer, that Qt's own options still reach Qt, and that output lost on the way is no success.
#include "pidtune_config.h"
#include "pseudoterminal.h"
#include "testsystem.h"

#include <QtTest>

namespace {

constexpr int kTimeoutMs = 10000;

QString program(const char *variable)
{
    return qEnvironmentVariable(variable);
}

// No display of any kind: a program that needed one would abort.
QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"})
        environment.remove(QString::fromLatin1(name));
    // A windowed program on Windows logs to the debugger, not to standard error.
    environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    return environment;
}

// A program's text output as lines ending in \n: Windows' C library writes \r\n.
QString lines(const QByteArray &bytes)
{
    return QString::fromLocal8Bit(bytes).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// Waits, within the deadline, until the process's standard error holds the text.
bool waitForError(QProcess &process, QByteArray &seen, const QByteArray &text)
{
    process.setReadChannel(QProcess::StandardError);
    QDeadlineTimer deadline(kTimeoutMs);
    while (!seen.contains(text) && process.state() != QProcess::NotRunning
           && !deadline.hasExpired()) {
        process.waitForReadyRead(int(deadline.remainingTime()));
        seen += process.readAllStandardError();
    }
    return seen.contains(text);
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void qtOptionsReachQt();
    void scopeMeasuresToTheEnd_data();
    void scopeMeasuresToTheEnd();
    void monitorStopsWhenFramesCannotBeWritten();
};

void TestCommandLine::answers_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("outputToFullDisk");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // a regular expression for all of standard output
    QTest::addColumn<QString>("error"); // and one for all of standard error

    const QString pidtune = program("PIDTUNE");
    const QString monitor = program("PIDTUNE_MONITOR");
    const QString version = QRegularExpression::escape(program("PIDTUNE_VERSION"));
    const QString usage
        = QStringLiteral("Usage: \\S*pidtune(\\.exe)? \\[options\\]\n(.|\n)*-v, --version(.|\n)*");
    const QString refused
        = QStringLiteral("pidtune: %1\nTry 'pidtune --help' for more information.\n");

    QTest::newRow("--help") << pidtune << QStringList {"--help"} << false << 0 << usage << "";
    QTest::newRow("--help-all") << pidtune << QStringList {"--help-all"} << false << 0
                                << usage + "--platform <name(.|\n)*--style <style>(.|\n)*"
                                << "";
    QTest::newRow("-v after Qt options")
        << pidtune << QStringList {"-platform", "xcb", "-style=fusion", "-v"} << false << 0
        << "pidtune " + version + "\n"
        << "";
    QTest::newRow("unknown option") << pidtune << QStringList {"--bogus"} << false << 2 << ""
                                    << refused.arg("Unknown option 'bogus'\\.");
    QTest::newRow("argument") << pidtune << QStringList {"COM3"} << false << 2 << ""
                              << refused.arg("unexpected argument 'COM3'");
    QTest::newRow("Qt option without its value")
        << pidtune << QStringList {"-style"} << false << 2 << ""
        << refused.arg("Missing value after '-style'\\.");
    QTest::newRow("--help into a full disk") << pidtune << QStringList {"--help"} << true << 1 << ""
                                             << "pidtune: cannot write the output: .+\n";
    QTest::newRow("monitor --version into a full disk")
        << monitor << QStringList {"--version"} << true << 1 << ""
        << "pidtune-monitor: cannot write the output: .+\n";
    const QString monitorRefused = QStringLiteral(
        "pidtune-monitor: %1\nTry 'pidtune-monitor --help' for more information.\n");
    QTest::newRow("monitor without a port")
        << monitor << QStringList() << false << 2 << "" << monitorRefused.arg("no port given.*");
    QTest::newRow("monitor port and --pty")
        << monitor << QStringList {"--pty", "/dev/ttyUSB0"} << false << 2 << ""
        << monitorRefused.arg("give either a port or --pty, not both");
    QTest::newRow("monitor two ports")
        << monitor << QStringList {"/dev/ttyUSB0", "/dev/ttyUSB1"} << false << 2 << ""
        << monitorRefused.arg("one port at a time.*");
    QTest::newRow("monitor no such port")
        << monitor << QStringList {noSuchPort()} << false << 1 << ""
        << "pidtune-monitor: cannot open " + noSuchPort() + ": \\S.*\n";
    if (!pidtune::kHavePseudoTerminals) {
        QTest::newRow("monitor --pty without pseudo-terminals")
            << monitor << QStringList {"--pty"} << false << 1 << ""
            << "pidtune-monitor: this system has no pseudo-terminals; name a serial port "
               "instead.*\n";
    }

    const QString scope = program("PIDTUNE_SCOPE");
    const QString scopeRefused
        = QStringLiteral("pidtune-scope: %1\nTry 'pidtune-scope --help' for more information.\n");
    QTest::newRow("scope --help") << scope << QStringList {"--help"} << false << 0
                                  << "Usage: \\S*pidtune-scope(\\.exe)? \\[options\\] "
                                     "\\[source\\]\n(.|\n)*step t=(.|\n)*--relay <port>(.|\n)*"
                                  << "";
    QTest::newRow("scope --version")
        << scope << QStringList {"--version"} << false << 0 << "pidtune-scope " + version + "\n"
        << "";
    QTest::newRow("scope --version into a full disk")
        << scope << QStringList {"--version"} << true << 1 << ""
        << "pidtune-scope: cannot write the output: .+\n";
    QTest::newRow("scope without a source")
        << scope << QStringList() << false << 2 << "" << scopeRefused.arg("no source given.*");
    QTest::newRow("scope source and --relay")
        << scope << QStringList {"--relay", "/dev/ttyUSB0", "-"} << false << 2 << ""
        << scopeRefused.arg("give either a source or --relay, not both");
    QTest::newRow("scope no such port")
        << scope << QStringList {"-platform", "offscreen", noSuchPort()} << false << 1 << ""
        << "(.|\n)*pidtune-scope: cannot open " + noSuchPort() + ": \\S.*\n";
    if (!pidtune::kHaveRelay) {
        QTest::newRow("scope --relay without pseudo-terminals")
            << scope << QStringList {"-platform", "offscreen", "--relay", "COM3"} << false << 1
            << ""
            << "(.|\n)*pidtune-scope: cannot open COM3: the relay needs a pseudo-terminal.*\n";
    }
}

void TestCommandLine::answers()
{
    QFETCH(QString, executable);
    QFETCH(QStringList, arguments);
    QFETCH(bool, outputToFullDisk);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, error);

    QProcess process;
    process.setProcessEnvironment(withoutDisplay());
    if (outputToFullDisk) {
        if (fullDevice().isEmpty())
            QSKIP("no device here on which every write fails as on a full disk (/dev/full)");
        process.setStandardOutputFile(fullDevice());
    }
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(executable, arguments);
    QVERIFY2(process.waitForFinished(kTimeoutMs), qPrintable(process.errorString()));
    const QString standardError = lines(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == exitCode, qPrintable(standardError));
    const auto whole = [](const QString &pattern) {
        return QRegularExpression(QStringLiteral("\\A(?:%1)\\z").arg(pattern));
    };
    QVERIFY2(whole(output).match(lines(process.readAllStandardOutput())).hasMatch(),
             qPrintable(output));
    QVERIFY2(whole(error).match(standardError).hasMatch(), qPrintable(standardError));
}

void TestCommandLine::scopeMeasuresToTheEnd_data()
{
    QTest::addColumn<QString>("source"); // "-": the file as standard input
    QTest::addColumn<QByteArray>("input");
    // A step whose last line has no line end, measured once the source has ended; a CSV's times
    // are seconds.
    QTest::newRow("standard input") << "-" << QByteArray("t=0 sp=0 y=0\nt=10 sp=1 y=0.5");
    QTest::newRow("CSV") << "in.csv" << QByteArray("time,sp,y\n0,0,0\n0.01,1,0.5\n");
}

void TestCommandLine::scopeMeasuresToTheEnd()
{
    QFETCH(QString, source);
    QFETCH(QByteArray, input);
    QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("in.csv")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(input) == input.size());
    file.close();
    QProcess scope;
    scope.setProcessEnvironment(withoutDisplay());
    scope.setWorkingDirectory(folder.path());
    scope.setStandardInputFile(file.fileName());
    // Standard input timed by its field, the window left open when it ends; a CSV's first column
    // is its time, and the scope told to exit at its end.
    const bool standardInput = source == QLatin1String("-");
    startStoppable(scope, program("PIDTUNE_SCOPE"),
                   QStringList {"-platform", "offscreen",
                                standardInput ? "--time=t" : "--exit-at-end", source});
    QVERIFY(scope.waitForReadyRead(kTimeoutMs)); // the step's line, as soon as the source ends
    if (standardInput) {
        if (const QString why = unseenHere(Unseen::ConsoleEvents); !why.isEmpty())
            QSKIP(qPrintable(why));
        requestStop(scope); // as Ctrl-C would
    }
    QVERIFY(scope.waitForFinished(kTimeoutMs));
    QCOMPARE(scope.exitCode(), 0);
    const QByteArray steps = scope.readAllStandardOutput();
    QVERIFY2(steps.startsWith("step t=0.010 sp=0->1 "), steps.constData());
}

// Without a display only the offscreen platform named on the command line lets the window start.
void TestCommandLine::qtOptionsReachQt()
{
    QTemporaryDir workingDirectory; // no Settings.ini
    QProcess pidtune;
    pidtune.setProcessEnvironment(withoutDisplay());
    pidtune.setWorkingDirectory(workingDirectory.path());
    startStoppable(pidtune, program("PIDTUNE"), {"-platform", "offscreen", "-style", "fusion"});
    QByteArray error;
    QVERIFY2(waitForError(pidtune, error, "current currentPath:"), error.constData());
    QCOMPARE(pidtune.state(), QProcess::Running);
    // Stopped by a signal, it closes its window and then ends as the signal's default would.
    requestStop(pidtune);
    QVERIFY(pidtune.waitForFinished(kTimeoutMs));
    QCOMPARE(pidtune.exitStatus(), QProcess::CrashExit);
}

void TestCommandLine::monitorStopsWhenFramesCannotBeWritten()
{
    if (fullDevice().isEmpty())
        QSKIP("no device here on which every write fails as on a full disk (/dev/full)");
    PseudoTerminal device;
    if (!device.isValid())
        QSKIP(qPrintable(device.reason()));
    QProcess monitor;
    monitor.setStandardOutputFile(fullDevice());
    monitor.start(program("PIDTUNE_MONITOR"), {device.slavePath()});
    QByteArray error;
    QVERIFY2(waitForError(monitor, error, "watching"), error.constData());

    device.send(frameBytes(3, 1.5f));
    QVERIFY(monitor.waitForFinished(kTimeoutMs));
    error += monitor.readAllStandardError();
    QCOMPARE(monitor.exitCode(), 1);
    QVERIFY2(error.contains("pidtune-monitor: cannot write the output: "), error.constData());
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
