// Switches the display mode through the launcher's own service with the launcher's
// crash handlers installed, then ends badly as its argument says, with every allocation
// through operator new refused from there on (the crash path must need none):
//   crash_probe REPORT fault | thread-fault | terminate | abort | pure-virtual
//                      | invalid-parameter | exit | fault-in-report | heap-locked
//   crash_probe witness FILE PID EVENT
// REPORT receives the mode in force after the switch. fault-in-report hands the reporting
// thread pointers it faults on. heap-locked faults while another thread holds the process
// heap's lock for ever, which the report needs: the launcher's filter must come back all
// the same (the probe then ends itself with kFilterCameBack, since Wine's own handling
// would need the heap too). witness is a stand-in for the system's debugger (the AeDebug key):
// it notes in FILE the id of each process whose crash the system's own handling took.
// A test program only: the shipped launcher has no way to crash on purpose.
#include "reports/CrashHandlers.h"
#include "reports/CrashReport.h"
#include "services/LauncherServices.h"
#include "support/FailingAllocator.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

namespace {

constexpr UINT kFilterCameBack = 7;
LPTOP_LEVEL_EXCEPTION_FILTER g_launcherFilter = nullptr;

LONG WINAPI endAfterTheLauncherFilter(EXCEPTION_POINTERS* exception)
{
    g_launcherFilter(exception);
    TerminateProcess(GetCurrentProcess(), kFilterCameBack);
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

void refuseAllocations()
{
    static const FailAllocationsAbove refused(0); // for the rest of the process
}

DWORD WINAPI holdHeapLock(void* held)
{
    HeapLock(GetProcessHeap());
    SetEvent(held);
    Sleep(INFINITE);
    return 0;
}

} // namespace

// Outside the anonymous namespace: a closed hierarchy would let the compiler call
// Derived::run straight away, a pure virtual call being undefined.
namespace probe {

struct Base {
    Base() { callRun(); }
    virtual ~Base() = default;
    Base(const Base&) = delete;
    Base& operator=(const Base&) = delete;
    // Called from the constructor, the call reaches Base's own slot: the pure one. Through
    // a pointer the compiler cannot see into, so that the call stays one through the slot.
    __attribute__((noinline)) void callRun()
    {
        Base* volatile self = this;
        self->run();
    }
    virtual void run() = 0;
};

struct Derived : Base {
    void run() override {}
};

} // namespace probe

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "witness") == 0) {
        if (FILE* seen = std::fopen(argv[2], "a")) {
            std::fprintf(seen, "%s\n", argv[3]);
            std::fclose(seen);
        }
        return 0;
    }
    if (argc != 3)
        return 2;
    installCrashHandlers();

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
    if (how == "thread-fault") {
        std::thread([] {
            refuseAllocations();
            fault();
        }).join();
    } else if (how == "heap-locked") {
        g_launcherFilter = SetUnhandledExceptionFilter(endAfterTheLauncherFilter);
        const HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        CloseHandle(CreateThread(nullptr, 0, holdHeapLock, held, 0, nullptr));
        WaitForSingleObject(held, INFINITE);
        fault();
    }
    refuseAllocations();
    if (how == "fault")
        fault();
    else if (how == "terminate")
        std::terminate();
    else if (how == "abort")
        std::abort();
    else if (how == "pure-virtual")
        probe::Derived derived;
    else if (how == "invalid-parameter")
        std::fprintf(stderr, "%d\n", _itoa_s(1, nullptr, 0, 10));
    else if (how == "exit")
        std::exit(3);
    else if (how == "fault-in-report")
        reportCrash(reinterpret_cast<EXCEPTION_POINTERS*>(16)); // as a corrupt process may hand it
    return 0;
}
