// Settings.ini bytes -> a whole window built in a scratch working directory: never crashes,
// never warns, and every filled field holds its value's text as written (no markup applied).
#include "app/mainwindow.h"
#include "ui/channelwidgets.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextEdit>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QApplication *application = nullptr;
QTemporaryDir *scratch = nullptr;

void failOnWarning(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    std::fprintf(stderr, "unexpected message: %s\n", qPrintable(message));
    std::abort();
}

// What a QTextEdit's plain text is for a value set as plain text.
QString asPlainText(QString text)
{
    text.replace(QChar(QChar::Nbsp), QLatin1Char(' '));
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    application = new QApplication(*argc, *argv); // lives as long as the fuzzing process
    scratch = new QTemporaryDir;
    QDir::setCurrent(scratch->path());
    qInstallMessageHandler(failOnWarning);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    {
        QFile file(QStringLiteral("Settings.ini"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    MainWindow window;
    const QSettings settings(QStringLiteral("Settings.ini"), QSettings::IniFormat);
    const QString keys[]
        = {QStringLiteral("Type_Flag"), QStringLiteral("Min"), QStringLiteral("Max")};
    for (int n = 1; n <= pidtune::kChannelCount; ++n) {
        for (const QString &key : keys) {
            const QString value
                = settings.value(QStringLiteral("%1_Data/%2").arg(n).arg(key)).toString();
            const auto *field = window.findChild<QTextEdit *>(
                QStringLiteral("data_%1_%2_TextEdit").arg(n).arg(key));
            if (!field || field->toPlainText() != asPlainText(value)) {
                std::fprintf(stderr, "channel %d %s: field %s, file %s\n", n, qPrintable(key),
                             qPrintable(field ? field->toPlainText() : QString()),
                             qPrintable(value));
                std::abort();
            }
        }
    }
    return 0;
}
