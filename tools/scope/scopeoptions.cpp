// SPDX-License-Identifier: MIT
#include "scopeoptions.h"

#include "cli/commandline.h"
#include "cli/qtoptions.h"
#include "parameterlog.h"
#include "pidtune_config.h"
#include "telemetryline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cmath>
#include <cstdio>

namespace pidtune::scope {

namespace {

// What the window's range boxes hold: within +-1e9, and 12 decimals.
constexpr double kRangeLimit = 1e9;
// Redraws a second beyond what the fastest screens show would only cost CPU.
constexpr int kMostRedrawsPerSecond = 120;

constexpr char kProgram[] = "pidtune-scope";

struct Options
{
    QCommandLineOption baud {"baud", "Serial speed of the port (default 115200), 8N1.", "rate"};
    QCommandLineOption relay {"relay",
                              "Hold this port of a single-UART device and relay it: prints "
                              "'pty: PATH' first, the port pidtune opens (PIDTUNE_EXTRA_PORTS), "
                              "and plots what the device sends.",
                              "port"};
    QCommandLineOption time {"time",
                             "The field that gives each line's time (the firmware's "
                             "milliseconds: t); lines without it are skipped. Default: arrival "
                             "time. A CSV file's time is its first column, in seconds.",
                             "name"};
    QCommandLineOption timeUnit {"time-unit", "Unit of the --time field: s, ms (default), us.",
                                 "unit"};
    QCommandLineOption window {"window", "Seconds shown (default 10).", "seconds"};
    QCommandLineOption maxRedraws {"max-redraws",
                                   "At most this many redraws a second (default 50, up to 120): "
                                   "fewer for a slow machine or a remote desktop.",
                                   "count"};
    QCommandLineOption range {"y-range", "Fixed Y range instead of auto-scaling.", "min:max"};
    QCommandLineOption setpoint {"setpoint",
                                 "Set-point series whose steps are measured (default sp).", "name"};
    QCommandLineOption response {"response", "Response series measured (default y).", "name"};
    QCommandLineOption exitAtEnd {"exit-at-end",
                                  "Exit when the source ends, after its last step's line."};
    QCommandLineOption control {"control",
                                "The controller's output series, the plant's input that the "
                                "model starts from (default u).",
                                "name"};
    QCommandLineOption openLoop {"open-loop",
                                 "Steps are of the control series, the loop open: measure and "
                                 "model those instead of the set-point's."};
    QCommandLineOption pidForm {"pid-form",
                                "How the device writes its PID, for the gains suggested: "
                                "parallel (Kp + Ki/s + Kd s, the example firmware's; default), "
                                "ideal (Kp (1 + 1/(Ti s) + Td s)) or series "
                                "(Kp (1 + 1/(Ti s)) (1 + Td s)).",
                                "form"};
    QCommandLineOption pidPeriod {"pid-period",
                                  "Seconds between two runs of the device's controller, for "
                                  "the predicted step (default 0.001, the example firmware's).",
                                  "seconds"};
    QCommandLineOption tauc {"tauc",
                             "The closed loop's time constant the suggestions aim for (default: "
                             "the larger of the model's dead time and half its time constant).",
                             "seconds"};
    QCommandLineOption names {"names",
                              "Names of the parameters, by identifier, for the chart's markers "
                              "and the step lines: 1=Kp,2=Ki,3=Kd. Before those of --settings.",
                              "id=name,..."};
    QCommandLineOption settings {"settings",
                                 "pidtune's Settings.ini, whose channels may name their "
                                 "parameter with a Name key beside Type_Flag.",
                                 "file"};
};

void describe(QCommandLineParser &parser, const Options &options, bool withQtOptions)
{
    parser.setApplicationDescription(QStringLiteral(
        "Plots numeric telemetry lines live: values separated by spaces, tabs or commas, each a\n"
        "bare number (series 1, 2, ...) or name:value or name=value. CR, LF or CRLF end a line.\n"
        "Each step of the set-point is measured on the response and printed on standard output:\n"
        "  step t=<s> sp=<from>-><to> rise=<s, 10-90 %> overshoot=<%> settling=<s> "
        "sse=<set-point - final> band=<+-, 2 % or what the sensor resolves> [ramp=<s>] "
        "[cut=<why>] [params=<name>:<value>,...]\n"
        "and modelled from the control series u to the response y, with gains suggested:\n"
        "  model t=<s> K=<gain> tau=<s> theta=<s, dead time> fit=<%>\n"
        "  suggest Kp=... Ki=... Kd=... filter=<s> tauc=<s> rule=simc-pi rise=... (predicted)\n"
        "A relay experiment's limit cycle is found in the lines: relay t=<s> d=... a=... Tu=<s> "
        "Ku=...\n"
        "pidtune-scope(1) tells more."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({options.baud, options.relay, options.time, options.timeUnit, options.window,
                       options.maxRedraws, options.range, options.setpoint, options.response,
                       options.exitAtEnd, options.control, options.openLoop, options.pidForm,
                       options.pidPeriod, options.tauc, options.names, options.settings});
    cli::addQtOptions(parser, withQtOptions);
    parser.addPositionalArgument(
        QStringLiteral("source"),
        QStringLiteral("A serial port (%1), - for standard input, or a .csv file to replay.")
            .arg(cli::examplePort()),
        QStringLiteral("[source]"));
}

bool readPositive(const QString &text, double *value)
{
    const QByteArray bytes = text.toLatin1();
    return readNumber(bytes.constData(), bytes.constData() + bytes.size(), value) && *value > 0
        && *value < 1e9;
}

// Why the options cannot be used, or an empty string.
QString check(const QCommandLineParser &parser, const Options &names, ScopeOptions *options)
{
    const QStringList sources = parser.positionalArguments();
    options->relayPort = parser.value(names.relay);
    if (sources.size() > 1)
        return QStringLiteral("one source at a time, not %1").arg(sources.join(QLatin1Char(' ')));
    if (!sources.isEmpty() && parser.isSet(names.relay))
        return QStringLiteral("give either a source or --relay, not both");
    if (sources.isEmpty() && !parser.isSet(names.relay))
        return QStringLiteral("no source given: name a port, - for standard input or a .csv "
                              "file, or use --relay PORT");
    options->source = sources.value(0);
    if (options->isCsv() && parser.isSet(names.time))
        return QStringLiteral("a CSV file's time is its first column; --time is for text lines");
    double number = 0;
    if (parser.isSet(names.baud)) {
        if (!readPositive(parser.value(names.baud), &number) || number != qint32(number))
            return QStringLiteral("invalid baud rate '%1'").arg(parser.value(names.baud));
        options->baudRate = qint32(number);
    }
    if (parser.isSet(names.window)) {
        if (!readPositive(parser.value(names.window), &options->windowSeconds))
            return QStringLiteral("invalid --window '%1': seconds, more than 0")
                .arg(parser.value(names.window));
    }
    if (parser.isSet(names.maxRedraws)) {
        if (!readPositive(parser.value(names.maxRedraws), &number) || number != int(number)
            || number > kMostRedrawsPerSecond)
            return QStringLiteral("invalid --max-redraws '%1': a whole number from 1 to %2")
                .arg(parser.value(names.maxRedraws))
                .arg(kMostRedrawsPerSecond);
        options->maxRedrawsPerSecond = int(number);
    }
    if (parser.isSet(names.range)) {
        const QByteArray range = parser.value(names.range).toLatin1();
        const int colon = range.indexOf(':', 1); // not the sign of a negative minimum
        options->fixedRange = colon > 0
            && readNumber(range.constData(), range.constData() + colon, &options->rangeLow)
            && readNumber(range.constData() + colon + 1, range.constData() + range.size(),
                          &options->rangeHigh)
            && std::abs(options->rangeLow) <= kRangeLimit
            && std::abs(options->rangeHigh) <= kRangeLimit
            && options->rangeHigh - options->rangeLow >= kRangeLimit * 1e-18;
        if (!options->fixedRange)
            return QStringLiteral("invalid --y-range '%1': MIN:MAX with MIN below MAX by 1e-9 at "
                                  "least, both within -1e9 to 1e9")
                .arg(parser.value(names.range));
    }
    const QString unit = parser.value(names.timeUnit);
    if (parser.isSet(names.timeUnit)) {
        const double scale = unit == QLatin1String("s") ? 1
            : unit == QLatin1String("ms")               ? 1e-3
            : unit == QLatin1String("us")               ? 1e-6
                                                        : 0;
        if (scale == 0)
            return QStringLiteral("invalid --time-unit '%1': s, ms or us").arg(unit);
        options->telemetry.secondsPerUnit = scale;
    }
    options->telemetry.timeField = parser.value(names.time).toUtf8();
    if (parser.isSet(names.setpoint))
        options->telemetry.setpoint = parser.value(names.setpoint).toUtf8();
    if (parser.isSet(names.response))
        options->telemetry.response = parser.value(names.response).toUtf8();
    options->exitAtEnd = parser.isSet(names.exitAtEnd);
    if (parser.isSet(names.control))
        options->telemetry.control = parser.value(names.control).toUtf8();
    options->telemetry.tuning.openLoop = parser.isSet(names.openLoop);
    if (parser.isSet(names.pidForm)
        && !parsePidForm(parser.value(names.pidForm), &options->telemetry.tuning.form))
        return QStringLiteral("invalid --pid-form '%1': parallel, ideal or series")
            .arg(parser.value(names.pidForm));
    if (parser.isSet(names.pidPeriod)
        && !readPositive(parser.value(names.pidPeriod), &options->telemetry.tuning.period))
        return QStringLiteral("invalid --pid-period '%1': seconds, more than 0")
            .arg(parser.value(names.pidPeriod));
    if (parser.isSet(names.tauc)
        && !readPositive(parser.value(names.tauc), &options->telemetry.tuning.tauc))
        return QStringLiteral("invalid --tauc '%1': seconds, more than 0")
            .arg(parser.value(names.tauc));
    QString error;
    if (parser.isSet(names.settings)
        && !readSettingsNames(parser.value(names.settings), &options->parameterNames, &error))
        return QStringLiteral("cannot read --settings %1: %2")
            .arg(parser.value(names.settings), error);
    const QString named = parser.value(names.names);
    for (const QString &entry : named.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool isNumber = false;
        const int equals = entry.indexOf(QLatin1Char('='));
        const int id = entry.left(equals).trimmed().toInt(&isNumber);
        const QString name = labelName(entry.mid(equals + 1));
        if (equals < 0 || !isNumber || id < 0 || id > 255 || name.isEmpty())
            return QStringLiteral("invalid --names entry '%1': ID=NAME, the ID 0-255").arg(entry);
        options->parameterNames[id] = name;
    }
    return {};
}

} // namespace

bool readSettingsNames(const QString &path, QMap<int, QString> *names, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    QByteArray text = file.readAll();
    if (text.startsWith("\xFF\xFE") || text.startsWith("\xFE\xFF") || text.contains('\0')) {
        *error = QStringLiteral("not UTF-8 text");
        return false;
    }
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    // Sections 1_Data to 6_Data, "key=value" lines, comments after ';' or '#'. A value may be
    // quoted.
    int channel = 0;
    QMap<int, int> identifiers;
    QMap<int, QString> channelNames;
    for (const QByteArray &raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            const QString section = line.mid(1, line.indexOf(QLatin1Char(']')) - 1).trimmed();
            bool isNumber = false;
            channel = section.endsWith(QLatin1String("_Data")) ? section.chopped(5).toInt(&isNumber)
                                                               : 0;
            if (!isNumber || channel < 1 || channel > 6)
                channel = 0;
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (channel == 0 || equals < 0 || line.startsWith(QLatin1Char(';'))
            || line.startsWith(QLatin1Char('#')))
            continue;
        const QString key = line.left(equals).trimmed();
        QString value = line.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"'))
            && value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        bool isNumber = false;
        if (key == QLatin1String("Type_Flag")) {
            const int id = value.toInt(&isNumber);
            if (isNumber && id >= 0 && id <= 255)
                identifiers[channel] = id;
        } else if (key == QLatin1String("Name") && !labelName(value).isEmpty()) {
            channelNames[channel] = labelName(value);
        }
    }
    for (auto named = channelNames.cbegin(); named != channelNames.cend(); ++named) {
        if (identifiers.contains(named.key()))
            (*names)[identifiers[named.key()]] = named.value();
    }
    return true;
}

std::optional<int> readCommandLine(int argc, char *argv[], ScopeOptions *options)
{
    QCoreApplication::setApplicationName(QStringLiteral("pidtune-scope"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PIDTUNE_VERSION));
    const Options names;
    QCommandLineParser parser;
    describe(parser, names, false);
    if (!parser.parse(cli::arguments(argc, argv)))
        return cli::refuse(kProgram, parser.errorText());
    if (parser.isSet(QStringLiteral("version")))
        return cli::printVersion(kProgram);
    const bool helpAll = parser.isSet(QStringLiteral("help-all"));
    if (helpAll || parser.isSet(QStringLiteral("help"))) {
        // The help names the program from the application's arguments; a core one needs no
        // display.
        QCoreApplication core(argc, argv);
        QCommandLineParser help;
        describe(help, names, helpAll);
        return cli::printText(kProgram, help.helpText());
    }
    if (const QString refusal = check(parser, names, options); !refusal.isEmpty())
        return cli::refuse(kProgram, refusal);
    return std::nullopt;
}

} // namespace pidtune::scope
