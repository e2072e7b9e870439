// SPDX-License-Identifier: MIT
#include "startupsettings.h"

#include "ui/channelvalues.h"
#include "ui/channelwidgets.h"
#include "ui/mainwindowform.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace pidtune {

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
