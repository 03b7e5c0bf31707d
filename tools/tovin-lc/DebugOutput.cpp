#include "DebugOutput.h"

#include <cstring>

namespace {

constexpr DWORD kBufferSize = 4096;
constexpr DWORD kMutexWaitMs = 5000;

} // namespace

DebugOutputListener::Opened DebugOutputListener::open()
{
    // Writers take the mutex before they look for the buffer: holding it while the buffer
    // is made keeps them from finding half of it.
    mutex_.reset(CreateMutexA(nullptr, FALSE, "DBWinMutex"));
    if (!mutex_)
        return Opened::Failed;
    const DWORD waited = WaitForSingleObject(mutex_.get(), kMutexWaitMs);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
        return Opened::Failed;
    Opened opened = Opened::Failed;
    const HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, "DBWIN_BUFFER");
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    mapping_.reset(mapping);
    if (mapping_ && existed) {
        opened = Opened::Taken;
    } else if (mapping_) {
        view_.reset(MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, kBufferSize));
        bufferReady_.reset(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY"));
        dataReady_.reset(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY"));
        if (view_ && bufferReady_ && dataReady_ && SetEvent(bufferReady_.get()))
            opened = Opened::Listening;
    }
    ReleaseMutex(mutex_.get());
    return opened;
}

DebugOutputListener::Wait DebugOutputListener::next(HANDLE stop, DWORD timeoutMs, DebugLine& line)
{
    const HANDLE waits[] = {dataReady_.get(), stop};
    const DWORD waited = WaitForMultipleObjects(2, waits, FALSE, timeoutMs);
    if (waited == WAIT_OBJECT_0 + 1)
        return Wait::Stopped;
    if (waited != WAIT_OBJECT_0)
        return Wait::TimedOut;
    const auto* buffer = static_cast<const char*>(view_.get());
    std::memcpy(&line.processId, buffer, sizeof line.processId);
    // The writer ends the text with a zero; a buffer without one is read to its end.
    const char* text = buffer + sizeof(DWORD);
    const void* zero = std::memchr(text, 0, kBufferSize - sizeof(DWORD));
    line.text.assign(text, zero ? static_cast<const char*>(zero) : buffer + kBufferSize);
    SetEvent(bufferReady_.get());
    while (!line.text.empty() && (line.text.back() == '\n' || line.text.back() == '\r'))
        line.text.pop_back();
    return Wait::Line;
}
