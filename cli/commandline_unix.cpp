// SPDX-License-Identifier: MIT
#include "commandline.h"

namespace pidtune::cli {

QStringList arguments(int argc, char *argv[])
{
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list.append(QString::fromLocal8Bit(argv[i]));
    return list;
}

void useParentConsole()
{
    // A program started from a terminal has it as its standard output already.
}

QString examplePort()
{
    return QStringLiteral("/dev/ttyUSB0");
}

} // namespace pidtune::cli
