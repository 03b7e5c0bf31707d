// The system's debug-output buffer, read the way debuggers read it: while it exists, each
// OutputDebugStringA of any process on the machine (or in the Wine prefix) hands its line
// over through the section DBWIN_BUFFER (the writer's process id, then the text), the
// events DBWIN_BUFFER_READY and DBWIN_DATA_READY, and the writers' mutex DBWinMutex.
#pragma once

#include "win/WinHandles.h"

#include <windows.h>

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

struct DebugLine {
    DWORD processId = 0;
    ULONGLONG takenAt = 0; // GetTickCount64 when the line was taken
    std::string text;      // the bytes as written, without the line end
};

// A line of another program than the launcher in UTF-8: it wrote it in its ANSI code page
// (and OutputDebugStringW hands its line over converted to that code page).
std::string ansiLineToUtf8(std::string_view ansi);

class DebugOutputListener {
public:
    enum class Opened { Listening, Taken, Failed };
    enum class Wait { Line, Stopped, TimedOut };

    DebugOutputListener() = default;
    DebugOutputListener(const DebugOutputListener&) = delete;
    DebugOutputListener& operator=(const DebugOutputListener&) = delete;

    // Taken: another listener (a debugger, DebugView) has the buffer already.
    Opened open();
    // The next line, until `stop` is set or the time has passed.
    Wait next(HANDLE stop, DWORD timeoutMs, DebugLine& line);

private:
    UniqueHandle mutex_;
    UniqueHandle mapping_;
    UniqueView view_;
    UniqueHandle bufferReady_;
    UniqueHandle dataReady_;
};

// A listener's lines taken on a thread of their own. Every writer waits (up to 10 s a
// line) until the last line has been taken, so a reader that prints before it takes
// the next line holds every traced program whenever its output blocks (a console paused
// in a selection, a pipe into `more`). Here each line is copied and the buffer re-armed
// at once, whatever the printing does; the lines wait in a bounded queue, and past the
// bound they are counted and dropped: a writer is never held.
class DebugOutputRelay {
public:
    // Lines of at most 4 KiB: 16 MiB at the most, minutes of any launcher's trace.
    static constexpr std::size_t kMaxQueuedLines = 4096;

    // `listener` is open.
    explicit DebugOutputRelay(std::unique_ptr<DebugOutputListener> listener);
    ~DebugOutputRelay() { stopTaking(); }
    DebugOutputRelay(const DebugOutputRelay&) = delete;
    DebugOutputRelay& operator=(const DebugOutputRelay&) = delete;

    // False when the thread could not start.
    bool start();
    // The oldest line taken, until `stop` is set or the time has passed.
    DebugOutputListener::Wait next(HANDLE stop, DWORD timeoutMs, DebugLine& line);
    // Ends the taking and lets go of the buffer, so that no writer waits for it any more;
    // the lines taken stay queued for next().
    void stopTaking();
    unsigned long long dropped() const;

private:
    static DWORD WINAPI takeEntry(LPVOID relay);
    void takeLines();

    std::unique_ptr<DebugOutputListener> listener_;
    UniqueHandle thread_;
    UniqueHandle stopTaking_;
    UniqueHandle queued_; // set while the queue holds a line
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::deque<DebugLine> lines_;
    unsigned long long dropped_ = 0;
};
