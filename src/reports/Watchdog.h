// Watches the main thread from a thread of its own. Every few seconds it sends the
// launcher's window WM_NULL and waits a moment for the answer: the main thread answers a
// sent message within milliseconds in every state, its waits and the boxes' and dialogs'
// modal loops included, so one that has answered nothing for kHangMs has hung (a stall
// inside a system call, a deadlock). Then it asks for one hang report
// (reports/CrashReport.h) and lets the launcher go on; it asks again only after the
// main thread has answered. It stands down while a crash is being reported.
#pragma once

#include "win/ThreadWait.h"
#include "win/WinHandles.h"

#include <windows.h>

class Watchdog {
public:
    static constexpr DWORD kHangMs = 10000;
    // Between two messages, and the wait for an answer: a hang is seen within
    // kHangMs + kPeriodMs + kAnswerWaitMs.
    static constexpr DWORD kPeriodMs = 2000;
    static constexpr DWORD kAnswerWaitMs = 1000;

    Watchdog() = default;
    ~Watchdog() { stop(win::ThreadWait()); }
    // Its thread uses this object.
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // Starts watching the thread that owns `window` (the main thread); once.
    void start(HWND window);
    // Stops the watchdog and waits for its thread through `wait` (the main thread serves the
    // watchdog's last message there), at most a bound: the launcher's end never waits on it.
    void stop(const win::ThreadWait& wait);

private:
    static DWORD WINAPI entry(void* watchdog);
    void run();

    HWND window_ = nullptr;
    UniqueHandle stop_;
    UniqueHandle thread_;
};
