// SPDX-License-Identifier: MIT
#include "commandline.h"

#include <cstdio>
#include <cstdlib>

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

namespace pidtune::cli {

namespace {

// A handle the program was given (a pipe or a file it is redirected to) is kept.
bool hasStream(DWORD which)
{
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE
        && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

} // namespace

QStringList arguments(int argc, char *argv[])
{
    // Not this program's own command line (a test calling with arguments of its own making):
    // only the C library's own argv stands for the wide command line.
    if (argv != __argv) {
        QStringList list;
        for (int i = 0; i < argc; ++i)
            list.append(QString::fromLocal8Bit(argv[i]));
        return list;
    }
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    QStringList list;
    for (int i = 0; wide && i < count; ++i)
        list.append(QString::fromWCharArray(wide[i]));
    LocalFree(wide);
    if (!wide || count != argc) {
        list.clear();
        for (int i = 0; i < argc; ++i)
            list.append(QString::fromLocal8Bit(argv[i]));
    }
    return list;
}

void useParentConsole()
{
    const bool out = hasStream(STD_OUTPUT_HANDLE), err = hasStream(STD_ERROR_HANDLE);
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    // The C library's streams were set up before there was a console: open them on it.
    if (!out)
        std::freopen("CONOUT$", "w", stdout);
    if (!err)
        std::freopen("CONOUT$", "w", stderr);
}

QString examplePort()
{
    return QStringLiteral("COM3");
}

} // namespace pidtune::cli
