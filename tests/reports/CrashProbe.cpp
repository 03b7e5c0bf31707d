// Switches the display mode through the launcher's own service with the launcher's
// crash handlers installed, then ends badly as its argument says, with every allocation
// through operator new refused from there on (the crash path must need none):
//   crash_probe REPORT fault | thread-fault | terminate | abort | pure-virtual
//                      | invalid-parameter | exit | fault-in-report | heap-locked
//                      | hang-then-crash | stack-use
//   crash_probe witness FILE PID EVENT
// REPORT receives the mode in force after the switch. fault-in-report hands the reporting
// thread pointers it faults on. heap-locked faults while another thread holds the process
// heap's lock for ever, which the report needs: the launcher's filter must come back all
// the same (the probe then ends itself with kFilterCameBack, since Wine's own handling
// would need the heap too). hang-then-crash asks for a hang report while another thread
// holds the loader lock for ever (as a main thread hung in a DLL's entry point would),
// which the report's writing waits for, then faults: the display must come back all the
// same (kFilterCameBack again). stack-use faults with the stack below painted, and adds
// to REPORT how deep the crash path reached below the fault ("stack USED GUARANTEED").
// witness is a stand-in for the system's debugger (the AeDebug key): it notes in FILE the
// id of each process whose crash the system's own handling took.
// A test program only: the shipped launcher has no way to crash on purpose.
#include "reports/CrashHandlers.h"
#include "reports/CrashReport.h"
#include "services/LauncherServices.h"
#include "support/FailingAllocator.h"
#include "win/CrashStack.h"

#include <cstdint>
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

DWORD WINAPI holdLoaderLock(void* held)
{
    using Lock = LONG(NTAPI*)(ULONG, ULONG*, ULONG_PTR*);
    const auto lock = reinterpret_cast<Lock>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "LdrLockLoaderLock")));
    ULONG_PTR cookie = 0;
    if (lock)
        lock(0, nullptr, &cookie);
    SetEvent(held);
    Sleep(INFINITE);
    return 0;
}

void holdForEver(LPTHREAD_START_ROUTINE hold)
{
    const HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(CreateThread(nullptr, 0, hold, held, 0, nullptr));
    WaitForSingleObject(held, INFINITE);
}

// The stack below a fault, painted before it; the crash path's depth is what it wrote over.
constexpr std::size_t kPaintedWords = 128 * 1024 / sizeof(std::uintptr_t);
constexpr std::uintptr_t kPaint = static_cast<std::uintptr_t>(0x5EC5EC5EC5EC5EC5ULL);
volatile std::uintptr_t* g_paintedTop = nullptr;
const char* g_stackUseFile = nullptr;

// From just below this frame down, top first, so that the stack grows page by page.
__attribute__((noinline)) void paintStack()
{
    const auto below = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) - 512;
    g_paintedTop = reinterpret_cast<volatile std::uintptr_t*>(below & ~std::uintptr_t{15});
    for (std::size_t i = 0; i < kPaintedWords; ++i)
        g_paintedTop[-static_cast<std::ptrdiff_t>(i)] = kPaint;
}

LONG WINAPI measureAfterTheLauncherFilter(EXCEPTION_POINTERS* exception)
{
    g_launcherFilter(exception);
    const volatile std::uintptr_t* deepest = g_paintedTop - (kPaintedWords - 1);
    while (deepest < g_paintedTop && *deepest == kPaint)
        ++deepest;
#ifdef _WIN64
    const std::uintptr_t faulted = exception->ContextRecord->Rsp;
#else
    const std::uintptr_t faulted = exception->ContextRecord->Esp;
#endif
    if (FILE* report = std::fopen(g_stackUseFile, "a")) {
        std::fprintf(report, "stack %lu %lu\n",
                     static_cast<unsigned long>(faulted - reinterpret_cast<std::uintptr_t>(deepest)),
                     static_cast<unsigned long>(win::kCrashStackBytes));
        std::fclose(report);
    }
    TerminateProcess(GetCurrentProcess(), kFilterCameBack);
    return EXCEPTION_EXECUTE_HANDLER;
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
        holdForEver(holdHeapLock);
        fault();
    } else if (how == "hang-then-crash") {
        g_launcherFilter = SetUnhandledExceptionFilter(endAfterTheLauncherFilter);
        holdForEver(holdLoaderLock);
        requestHangReport();
        Sleep(1000); // its writing is under way, and waits
        refuseAllocations();
        fault();
    } else if (how == "stack-use") {
        g_stackUseFile = argv[1];
        g_launcherFilter = SetUnhandledExceptionFilter(measureAfterTheLauncherFilter);
        refuseAllocations();
        paintStack();
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
