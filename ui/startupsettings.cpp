// SPDX-License-Identifier: MIT
#include "startupsettings.h"

#include "ui/channelvalues.h"
#include "ui/channelwidgets.h"
#include "ui/mainwindowform.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace pidtune {

namespace {

// The INI reader takes UTF-8 and the system's 8-bit code page. A file saved as UTF-16 or UTF-32
// (as some Windows editors do) reads as no keys at all; its byte order mark or the zero bytes
// of its ASCII characters give it away.
bool isEightBitText(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return true; // unreadable files are told apart before
    const QByteArray start = file.read(64 * 1024);
    return !start.startsWith("\xFF\xFE") && !start.startsWith("\xFE\xFF") && !start.contains('\0');
}

} // namespace

QString loadStartupSettings(MainWindowForm &form)
{
    const QString fileName = QStringLiteral("Settings.ini");
    const QSettings settings(fileName, QSettings::IniFormat);
    // QSettings treats a file it cannot read like a missing one.
    const QFileInfo file(fileName);
    if (file.exists()
        && (!file.isFile() || !file.isReadable() || settings.status() == QSettings::AccessError)) {
        qWarning() << "Settings.ini cannot be read:" << QDir::current().filePath(fileName);
        return QCoreApplication::translate("MainWindow", "无法读取 Settings.ini，通道未预填");
    }
    if (file.exists() && !isEightBitText(fileName)) {
        qWarning() << "Settings.ini is not UTF-8 or ANSI text and was not read:"
                   << QDir::current().filePath(fileName);
        return QCoreApplication::translate("MainWindow",
                                           "Settings.ini 不是 UTF-8 或 ANSI 文本，未读取");
    }
    QStringList tooLong; // keys whose value was longer than a box keeps, left out
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        const ChannelWidgets row = channelWidgets(form, channel);
        const QString section = QStringLiteral("%1_Data/").arg(channel);
        // Min before Max, as an operator filling the row would type them.
        const std::pair<const char *, QTextEdit *> fields[]
            = {{"Type_Flag", row.identifier}, {"Min", row.min}, {"Max", row.max}};
        for (const auto &[key, field] : fields) {
            // A list (a value with a comma, such as a decimal comma) reads as empty text.
            const QString text = settings.value(section + QLatin1String(key)).toString();
            if (text.size() > kMaxFieldLength) {
                tooLong << section + QLatin1String(key);
                continue;
            }
            // Plain text: a value holding markup is shown as written and loads nothing.
            if (!text.isEmpty())
                field->setPlainText(text);
        }
    }
    if (tooLong.isEmpty())
        return QString();
    qWarning() << "Settings.ini: values longer than" << kMaxFieldLength
               << "characters left out:" << tooLong.join(QStringLiteral(", "));
    return QCoreApplication::translate("MainWindow",
                                       "Settings.ini 中 %1 的值过长（超过 %2 个字符），未填入")
        .arg(tooLong.join(QStringLiteral("、")))
        .arg(kMaxFieldLength);
}

} // namespace pidtune
