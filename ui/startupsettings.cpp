// SPDX-License-Identifier: MIT
#include "startupsettings.h"

#include "ui/channelwidgets.h"
#include "ui/mainwindowform.h"

#include <QSettings>

namespace pidtune {

void loadStartupSettings(MainWindowForm &form)
{
    const QSettings settings(QStringLiteral("Settings.ini"), QSettings::IniFormat);
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        const ChannelWidgets row = channelWidgets(form, channel);
        const QString section = QStringLiteral("%1_Data/").arg(channel);
        // Min before Max: a Min above Max then ends with both ends of the range at Max.
        const std::pair<const char *, QTextEdit *> fields[]
            = {{"Type_Flag", row.identifier}, {"Min", row.min}, {"Max", row.max}};
        for (const auto &[key, field] : fields) {
            // A list (a value with a comma, such as a decimal comma) reads as empty text.
            const QString text = settings.value(section + QLatin1String(key)).toString();
            // Plain text: a value holding markup is shown as written and loads nothing.
            if (!text.isEmpty())
                field->setPlainText(text);
        }
    }
}

} // namespace pidtune
