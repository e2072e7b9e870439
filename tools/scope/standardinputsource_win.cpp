// SPDX-License-Identifier: MIT
#include "standardinputsource.h"

#include <QMetaObject>

#include <memory>
#include <mutex>

#include <windows.h>

namespace pidtune::scope {

namespace {

// Shared by the source and its reading thread, which may outlive it: a read that cannot be
// cancelled keeps the thread until the process ends, and it must then find nobody to tell.
struct Shared
{
    std::mutex mutex;
    StandardInputSource *source = nullptr; // null once the source is gone
    HANDLE input = nullptr;

    template<typename Call> void tell(Call call)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (source)
            QMetaObject::invokeMethod(source, call, Qt::QueuedConnection);
    }
};

QString systemMessage(DWORD code)
{
    wchar_t *text = nullptr;
    const DWORD size = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = QString::fromWCharArray(text, int(size)).trimmed();
    LocalFree(text);
    return message.isEmpty() ? QStringLiteral("error %1").arg(code) : message;
}

} // namespace

// Windows has no readiness notification for pipes and consoles alike, so a thread does blocking
// reads and hands each chunk to the event loop.
struct StandardInputSource::Reader
{
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
    HANDLE thread = nullptr;

    static DWORD WINAPI run(void *parameter)
    {
        const auto shared = *static_cast<std::shared_ptr<Shared> *>(parameter);
        delete static_cast<std::shared_ptr<Shared> *>(parameter);
        char chunk[65536];
        for (;;) {
            DWORD n = 0;
            if (ReadFile(shared->input, chunk, sizeof chunk, &n, nullptr) && n > 0) {
                const QByteArray bytes(chunk, int(n));
                shared->tell([shared, bytes] {
                    if (shared->source)
                        emit shared->source->received(bytes);
                });
                continue;
            }
            const DWORD code
                = n == 0 && GetLastError() == ERROR_SUCCESS ? ERROR_HANDLE_EOF : GetLastError();
            // A pipe whose writer closed it, or a file's end: the input's normal end.
            const QString reason = code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF
                ? QStringLiteral("end of standard input")
                : QStringLiteral("standard input: %1").arg(systemMessage(code));
            shared->tell([shared, reason] {
                if (shared->source)
                    emit shared->source->ended(reason);
            });
            return 0;
        }
    }
};

std::unique_ptr<StandardInputSource> StandardInputSource::open(QString *error)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) {
        *error = QStringLiteral("this program has no standard input");
        return nullptr;
    }
    std::unique_ptr<StandardInputSource> source(new StandardInputSource);
    Reader &reader = *source->reader;
    reader.shared->source = source.get();
    reader.shared->input = input;
    auto *forThread = new std::shared_ptr<Shared>(reader.shared);
    reader.thread = CreateThread(nullptr, 0, &Reader::run, forThread, 0, nullptr);
    if (!reader.thread) {
        delete forThread;
        *error
            = QStringLiteral("cannot read standard input: %1").arg(systemMessage(GetLastError()));
        return nullptr;
    }
    return source;
}

StandardInputSource::StandardInputSource() : reader(std::make_unique<Reader>()) { }

StandardInputSource::~StandardInputSource()
{
    {
        std::lock_guard<std::mutex> lock(reader->shared->mutex);
        reader->shared->source = nullptr;
    }
    if (reader->thread) {
        // Ends a read that waits for more; one that cannot be ended is left to the process's end.
        CancelSynchronousIo(reader->thread);
        WaitForSingleObject(reader->thread, 1000);
        CloseHandle(reader->thread);
    }
}

} // namespace pidtune::scope
