// SPDX-License-Identifier: MIT
// Settings.ini bytes -> a whole window built in a scratch working directory: never crashes,
// warns only of values too long for a box, which it leaves out, or of a file in a wide encoding,
// which fills nothing; every other filled field holds its value's text as written (no markup
// applied).
#include "app/mainwindow.h"
#include "ui/channelvalues.h"
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
    if (type == QtDebugMsg || type == QtInfoMsg
        || message.startsWith(QLatin1String("Settings.ini:"))
        || message.startsWith(QLatin1String("Settings.ini is not UTF-8")))
        return;
    std::fprintf(stderr, "unexpected message: %s\n", qPrintable(message));
    std::abort();
}

// What a QTextEdit's plain text is for a value set as plain text. The editor keeps every
// character as written except that it normalises line breaks ("\r\n", a lone "\r", the Unicode
// line and paragraph separators and its own frame markers all read back as "\n") and reads
// no-break spaces back as spaces. Checked against Qt 5.15 and Qt 6.4.
QString asPlainText(const QString &value)
{
    QString text;
    text.reserve(value.size());
    for (int i = 0; i < value.size(); ++i) {
        switch (value.at(i).unicode()) {
        case u'\r':
            if (i + 1 < value.size() && value.at(i + 1) == QLatin1Char('\n'))
                ++i;
            text += QLatin1Char('\n');
            break;
        case QChar::LineSeparator:
        case QChar::ParagraphSeparator:
        case 0xfdd0: // the text document's frame start and end markers
        case 0xfdd1:
            text += QLatin1Char('\n');
            break;
        case QChar::Nbsp:
            text += QLatin1Char(' ');
            break;
        default:
            text += value.at(i);
        }
    }
    return text;
}

// Control and non-ASCII characters as \uXXXX, so a mismatch is readable in the CI log.
QByteArray escaped(const QString &text)
{
    QByteArray out;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            out += QByteArray("\\u") + QByteArray::number(c.unicode(), 16).rightJustified(4, '0');
        else
            out += char(c.unicode());
    }
    return out;
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
    // A file with a UTF-16 byte order mark or a zero byte is wide text: nothing is filled in.
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const bool wide
        = bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF") || bytes.contains('\0');
    const QSettings settings(QStringLiteral("Settings.ini"), QSettings::IniFormat);
    const QString keys[]
        = {QStringLiteral("Type_Flag"), QStringLiteral("Min"), QStringLiteral("Max")};
    for (int n = 1; n <= pidtune::kChannelCount; ++n) {
        for (const QString &key : keys) {
            const QString value
                = settings.value(QStringLiteral("%1_Data/%2").arg(n).arg(key)).toString();
            const auto *field = window.findChild<QTextEdit *>(
                QStringLiteral("data_%1_%2_TextEdit").arg(n).arg(key));
            const QString expected
                = wide || value.size() > pidtune::kMaxFieldLength ? QString() : asPlainText(value);
            if (!field || field->toPlainText() != expected) {
                std::fprintf(stderr, "channel %d %s: field \"%s\", expected \"%s\"\n", n,
                             qPrintable(key),
                             escaped(field ? field->toPlainText() : QString()).constData(),
                             escaped(expected).constData());
                std::abort();
            }
        }
    }
    return 0;
}
