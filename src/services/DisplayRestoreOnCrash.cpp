#include "services/DisplayRestoreOnCrash.h"

#include "services/CrashReport.h"

#include <csignal>
#include <cstdlib>
#include <exception>

namespace {

enum : LONG { kNothingKept = 0, kCopying = 1, kKept = 2 };

DEVMODEA g_keptMode;
volatile LONG g_state = kNothingKept;
LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = nullptr;
std::terminate_handler g_previousTerminate = nullptr;

// At most once, whichever handler comes first (terminate goes on into abort).
void restoreKeptMode()
{
    if (InterlockedCompareExchange(&g_state, kNothingKept, kKept) == kKept)
        ChangeDisplaySettingsA(&g_keptMode, 0);
}

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* exception)
{
    restoreKeptMode();
    // Then the report; the crash goes on to the system's own handling, with no box of
    // ours: the process is in an unknown state, and its other thread may be taking calls.
    writeCrashReport(exception);
    return g_previousFilter ? g_previousFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
}

void onTerminate()
{
    restoreKeptMode();
    if (g_previousTerminate)
        g_previousTerminate();
    std::abort();
}

void onAbort(int)
{
    restoreKeptMode(); // the runtime's abort then ends the process
}

} // namespace

void installDisplayRestoreOnCrash()
{
    std::atexit(restoreKeptMode);
    g_previousFilter = SetUnhandledExceptionFilter(onUnhandledException);
    g_previousTerminate = std::set_terminate(onTerminate);
    std::signal(SIGABRT, onAbort);
}

void keepDisplayModeForCrash(const DEVMODEA& mode)
{
    // A handler that runs while the copy is being made finds nothing to put back.
    InterlockedExchange(&g_state, kCopying);
    g_keptMode = mode;
    InterlockedExchange(&g_state, kKept);
}

void forgetDisplayModeForCrash()
{
    InterlockedExchange(&g_state, kNothingKept);
}
