#include "reports/CrashHandlers.h"

#include "display/DisplayRestoreOnCrash.h"
#include "reports/CrashReport.h"
#include "win/CrashStack.h"

#include <windows.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <exception>

namespace {

LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = nullptr;
std::terminate_handler g_previousTerminate = nullptr;

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* exception)
{
    // The display and the report, on the reporting thread; then the system's own error
    // reporting takes the crash, with no box of ours.
    reportCrash(exception);
    return g_previousFilter ? g_previousFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
}

void onTerminate()
{
    reportBadEnd(kTerminateCode);
    if (g_previousTerminate)
        g_previousTerminate();
    std::abort();
}

void onAbort(int)
{
    reportBadEnd(kAbortCode); // the runtime's abort then ends the process
}

void onInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, std::uintptr_t)
{
    reportBadEnd(STATUS_INVALID_CRUNTIME_PARAMETER);
    // The end the runtime's own handler gives: at once, seen by the system's error reporting.
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = STATUS_INVALID_CRUNTIME_PARAMETER;
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    RaiseFailFastException(&record, nullptr, 0);
}

} // namespace

// What a pure virtual function's slot calls. The C++ runtime's own goes to std::terminate
// without a word; this one says so in the report first.
extern "C" [[noreturn]] void __cxa_pure_virtual() // NOLINT(bugprone-reserved-identifier): the C++ ABI names it
{
    reportBadEnd(kPureCallCode);
    std::terminate();
}

void installCrashHandlers()
{
    win::keepStackForCrash(); // this thread's, as every other thread of the launcher does
    // No box of the runtime's at a bad end (abort's among them): the report says what
    // happened, and nobody may be there to close one.
    _set_error_mode(_OUT_TO_STDERR);
    prepareCrashReports();
    std::atexit(restoreDisplayModeAfterCrash);
    g_previousFilter = SetUnhandledExceptionFilter(onUnhandledException);
    g_previousTerminate = std::set_terminate(onTerminate);
    std::signal(SIGABRT, onAbort);
    // The runtime's own setter, where msvcrt.dll has one: mingw-w64's
    // _set_invalid_parameter_handler only keeps the pointer, which nothing calls.
    using SetHandler = _invalid_parameter_handler(__cdecl*)(_invalid_parameter_handler);
    if (const HMODULE runtime = GetModuleHandleW(L"msvcrt.dll")) {
        if (const auto setHandler = reinterpret_cast<SetHandler>(
                reinterpret_cast<void*>(GetProcAddress(runtime, "_set_invalid_parameter_handler"))))
            setHandler(onInvalidParameter);
    }
}
