// SPDX-License-Identifier: MIT
#include "applicationicon.h"

#include <QDir>

// The images are compiled into this static library, which registers them only when asked.
static void registerIconResource()
{
    Q_INIT_RESOURCE(pidtune_icons);
}

namespace pidtune {

QIcon applicationIcon()
{
    registerIconResource();
    QIcon icon;
    const QDir sizes(QStringLiteral(":/pidtune/icons"));
    for (const QString &file : sizes.entryList(QDir::Files))
        icon.addFile(sizes.filePath(file));
    return icon;
}

} // namespace pidtune
