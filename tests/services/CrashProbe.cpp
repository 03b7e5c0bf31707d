// Switches the display mode through the launcher's own service with the launcher's
// crash handlers installed, then dies as its argument says:
//   crash_probe REPORT fault | thread-fault | terminate | abort | exit | fault-in-report
// REPORT receives the mode in force after the switch. fault-in-report faults inside the
// crash report's writing; the process must end there, not come back out of the filter.
// A test program only: the shipped launcher has no way to crash on purpose.
#include "services/CrashReport.h"
#include "services/DisplayRestoreOnCrash.h"
#include "services/LauncherServices.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

namespace {

LPTOP_LEVEL_EXCEPTION_FILTER g_launcherFilter = nullptr;
constexpr UINT kLauncherFilterCameBack = 7;
bool g_inReport = false;

// Wine would start its debugger, with a window, for an exception that nobody handles:
// after the launcher's filter has run, the probe ends itself instead.
LONG WINAPI endAfterTheLauncherFilter(EXCEPTION_POINTERS* exception)
{
    if (g_launcherFilter)
        g_launcherFilter(exception);
    TerminateProcess(GetCurrentProcess(),
                     g_inReport ? kLauncherFilterCameBack : exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

// The function a crash report must name: never inlined, so that it is a frame of its own.
// The pointer itself is volatile: a null the compiler could see would let it drop the
// store, and with it every call of this function, as unreachable.
__attribute__((noinline)) void fault()
{
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    installDisplayRestoreOnCrash();
    g_launcherFilter = SetUnhandledExceptionFilter(endAfterTheLauncherFilter);

    CFlashLocalConnectionCall call("ScreenResolutionEnable");
    call.addArgument(std::make_unique<CFlashAMFString>("crash.probe"), false);
    for (double value : {800.0, 600.0, 32.0})
        call.addArgument(std::make_unique<CFlashAMFNumber>(value), false);
    // On this stack, as in the launcher: every way out below skips its destructor.
    CLauncherServices services;
    services.ScreenResolutionEnable(&call, "crash.probe", nullptr); // nobody takes the answer

    DEVMODEA mode = {};
    mode.dmSize = sizeof mode;
    EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode);
    if (FILE* report = std::fopen(argv[1], "w")) {
        std::fprintf(report, "%lux%lu\n", mode.dmPelsWidth, mode.dmPelsHeight);
        std::fclose(report);
    }

    const std::string how = argv[2];
    if (how == "fault")
        fault();
    else if (how == "thread-fault")
        std::thread(fault).join();
    else if (how == "terminate")
        std::terminate();
    else if (how == "abort")
        std::abort();
    else if (how == "exit")
        std::exit(3);
    else if (how == "fault-in-report") {
        // Pointers that dbghelp cannot read, as a corrupt process may hand it.
        g_inReport = true;
        writeCrashReport(reinterpret_cast<EXCEPTION_POINTERS*>(16));
    }
    return 0;
}
