// The system's debug-output buffer, read the way debuggers read it: while it exists, each
// OutputDebugStringA of any process on the machine (or in the Wine prefix) hands its line
// over through the section DBWIN_BUFFER (the writer's process id, then the text), the
// events DBWIN_BUFFER_READY and DBWIN_DATA_READY, and the writers' mutex DBWinMutex.
#pragma once

#include "win/WinHandles.h"

#include <windows.h>

#include <string>

struct DebugLine {
    DWORD processId = 0;
    std::string text; // ANSI, as written, without its line end
};

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
