// Waiting in tests: on a condition, with a deadline, never for a fixed time.
#pragma once

#include <windows.h>

#include <functional>

// Looks at the condition every few milliseconds until it holds (true) or the time is
// up (false). For what only shows in another process's windows, files or the section,
// where there is no event to wait on.
inline bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(5);
    }
    return true;
}
