#include "reports/Watchdog.h"

#include "reports/CrashReport.h"
#include "reports/ReportNotes.h"
#include "win/CrashStack.h"

namespace {

// Reserved, not committed: the thread only waits and sends; and the crash path's share.
constexpr SIZE_T kStackBytes = 64 * 1024 + win::kCrashStackBytes;
// Asked to stop, the thread ends at once: its wait is on the stop event, and the main
// thread, waiting for it, answers its last message. Past this bound it is let go (the
// process is ending) rather than hold the launcher's end.
constexpr DWORD kStopWaitMs = 500;

} // namespace

void Watchdog::start(HWND window)
{
    if (thread_)
        return;
    window_ = window;
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop_)
        return;
    thread_.reset(CreateThread(nullptr, kStackBytes, entry, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
}

void Watchdog::stop(const win::ThreadWait& wait)
{
    if (!thread_)
        return;
    SetEvent(stop_.get());
    if (wait.forOne(thread_.get(), kStopWaitMs) == WAIT_OBJECT_0)
        thread_.reset();
    else
        static_cast<void>(thread_.release()); // it may still use this object until the process ends
}

DWORD WINAPI Watchdog::entry(void* watchdog)
{
    win::keepStackForCrash();
    static_cast<Watchdog*>(watchdog)->run();
    return 0;
}

void Watchdog::run()
{
    DWORD lastAnswer = GetTickCount();
    notes::noteAnswered(lastAnswer);
    bool reported = false;
    while (WaitForSingleObject(stop_.get(), kPeriodMs) == WAIT_TIMEOUT) {
        DWORD_PTR result = 0;
        if (SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerWaitMs, &result)) {
            lastAnswer = GetTickCount();
            notes::noteAnswered(lastAnswer);
            reported = false; // a later hang is another one
            continue;
        }
        // Any failure but the time-out (the window is gone) is the launcher's end, no hang.
        if (GetLastError() != ERROR_TIMEOUT)
            continue;
        if (!reported && GetTickCount() - lastAnswer >= kHangMs && !crashReportUnderWay())
            reported = requestHangReport();
    }
}
