#include "DebugOutput.h"

#include "win/WideText.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr DWORD kBufferSize = 4096;
// Not the Flash Player's mutex (lc::kMutexWaitMs), and another reason: DBWinMutex is held
// by a program writing a debug line until a reader has taken it. A wait this long means
// the lines are not being taken, and trace gives up with its own message.
constexpr DWORD kDebugMutexWaitMs = 5000;

} // namespace

std::string ansiLineToUtf8(std::string_view ansi)
{
    // No code page gives more UTF-16 units than it takes bytes; a debug line fits the buffer.
    std::wstring wide(std::min<std::size_t>(ansi.size(), kBufferSize), L'\0');
    const int count = wide.empty() ? 0
                                   : MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(wide.size()),
                                                         wide.data(), static_cast<int>(wide.size()));
    wide.resize(static_cast<std::size_t>(std::max(count, 0)));
    return win::narrow(wide);
}

DebugOutputListener::Opened DebugOutputListener::open()
{
    // Writers take the mutex before they look for the buffer: holding it while the buffer
    // is made keeps them from finding half of it.
    mutex_.reset(CreateMutexW(nullptr, FALSE, L"DBWinMutex"));
    if (!mutex_)
        return Opened::Failed;
    const DWORD waited = WaitForSingleObject(mutex_.get(), kDebugMutexWaitMs);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
        return Opened::Failed;
    Opened opened = Opened::Failed;
    const HANDLE mapping =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, L"DBWIN_BUFFER");
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    mapping_.reset(mapping);
    if (mapping_ && existed) {
        opened = Opened::Taken;
    } else if (mapping_) {
        view_.reset(MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, kBufferSize));
        bufferReady_.reset(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
        dataReady_.reset(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
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
    // Re-armed however the copy ends: a writer waits for it.
    struct Rearm {
        HANDLE ready;
        ~Rearm() { SetEvent(ready); }
    } rearm{bufferReady_.get()};
    const auto* buffer = static_cast<const char*>(view_.get());
    std::memcpy(&line.processId, buffer, sizeof line.processId);
    // The writer ends the text with a zero; a buffer without one is read to its end.
    const char* text = buffer + sizeof(DWORD);
    const void* zero = std::memchr(text, 0, kBufferSize - sizeof(DWORD));
    line.text.assign(text, zero ? static_cast<const char*>(zero) : buffer + kBufferSize);
    line.takenAt = GetTickCount64();
    while (!line.text.empty() && (line.text.back() == '\n' || line.text.back() == '\r'))
        line.text.pop_back();
    return Wait::Line;
}

DebugOutputRelay::DebugOutputRelay(std::unique_ptr<DebugOutputListener> listener)
    : listener_(std::move(listener)), stopTaking_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      queued_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

bool DebugOutputRelay::start()
{
    if (!listener_ || !stopTaking_ || !queued_ || thread_)
        return false;
    thread_.reset(CreateThread(nullptr, 0, takeEntry, this, 0, nullptr));
    return static_cast<bool>(thread_);
}

DWORD WINAPI DebugOutputRelay::takeEntry(LPVOID relay)
{
    static_cast<DebugOutputRelay*>(relay)->takeLines();
    return 0;
}

void DebugOutputRelay::takeLines()
{
    for (;;) {
        DebugLine line;
        bool kept = false;
        try {
            const DebugOutputListener::Wait taken = listener_->next(stopTaking_.get(), INFINITE, line);
            if (taken == DebugOutputListener::Wait::Stopped)
                return;
            if (taken != DebugOutputListener::Wait::Line)
                continue;
            ExclusiveLock hold(lock_);
            if (lines_.size() < kMaxQueuedLines) {
                lines_.push_back(std::move(line));
                kept = true;
                SetEvent(queued_.get());
            }
        } catch (const std::bad_alloc&) {
            // The line is lost, and counted; the buffer was re-armed all the same.
        }
        if (!kept) {
            ExclusiveLock hold(lock_);
            ++dropped_;
        }
    }
}

DebugOutputListener::Wait DebugOutputRelay::next(HANDLE stop, DWORD timeoutMs, DebugLine& line)
{
    const HANDLE waits[] = {queued_.get(), stop};
    const DWORD waited = WaitForMultipleObjects(2, waits, FALSE, timeoutMs);
    if (waited == WAIT_OBJECT_0 + 1)
        return DebugOutputListener::Wait::Stopped;
    if (waited != WAIT_OBJECT_0)
        return DebugOutputListener::Wait::TimedOut;
    ExclusiveLock hold(lock_);
    if (lines_.empty()) { // (taken by an earlier call; not set again)
        ResetEvent(queued_.get());
        return DebugOutputListener::Wait::TimedOut;
    }
    line = std::move(lines_.front());
    lines_.pop_front();
    if (lines_.empty())
        ResetEvent(queued_.get());
    return DebugOutputListener::Wait::Line;
}

void DebugOutputRelay::stopTaking()
{
    if (thread_) {
        SetEvent(stopTaking_.get());
        WaitForSingleObject(thread_.get(), INFINITE); // it waits on nothing else
        thread_.reset();
    }
    listener_.reset();
}

unsigned long long DebugOutputRelay::dropped() const
{
    ExclusiveLock hold(lock_);
    return dropped_;
}
