// The shipped launcher, crashed and hung from outside as a player's would be, with the
// display switched: a thread started in it at a bad address, one started at
// std::terminate, and its main thread suspended for 30 s during a download. Each leaves
// its report, copied to TOVIN_CRASH_COPIES for launcher-crash-test.sh to read with
// scripts/crash-report.py. During the download, each of its threads keeps the stack the
// crash path needs. Runs in a Wine virtual desktop beside the test HTTP server.
#include "launcher/Launcher.h"
#include "reports/CrashReport.h"
#include "support/LauncherFixture.h"
#include "support/Wait.h"
#include "win/CrashStack.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr DWORD kCrashLimitMs = 90000; // a report takes seconds under wine64
constexpr DWORD kSuspendedMs = 30000;
constexpr DWORD kAbortExitCode = 3;

// Where a thread's environment block keeps the stack guaranteed to it (GuaranteedStackBytes).
#ifdef _WIN64
constexpr DWORD_PTR kGuaranteeInBlock = 0x1748;
#else
constexpr DWORD_PTR kGuaranteeInBlock = 0xF78;
#endif
constexpr ULONG kBasicInformation = 0; // THREADINFOCLASS ThreadBasicInformation
constexpr ULONG kStartAddress = 9;     // ThreadQuerySetWin32StartAddress
struct ThreadBasicInformation {        // THREAD_BASIC_INFORMATION
    LONG exitStatus;
    void* environmentBlock;
    void* clientId[2];
    ULONG_PTR affinity;
    LONG priority;
    LONG basePriority;
};

// The stack each thread of the process that began in the given module keeps for the
// crash path; the system's own threads (the thread pool's, WinINet's) are left out.
std::vector<ULONG> stacksKeptForCrash(DWORD processId, const MODULEENTRY32& module)
{
    using Query = LONG(NTAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    const UniqueHandle process(OpenProcess(PROCESS_VM_READ, FALSE, processId));
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    std::vector<ULONG> kept;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = query && process && snapshot && Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry)) {
        const UniqueHandle thread(entry.th32OwnerProcessID == processId
                                      ? OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID)
                                      : nullptr);
        DWORD_PTR start = 0;
        ThreadBasicInformation basic = {};
        if (!thread || query(thread.get(), kStartAddress, &start, sizeof start, nullptr) != 0 ||
            start - reinterpret_cast<DWORD_PTR>(module.modBaseAddr) >= module.modBaseSize ||
            query(thread.get(), kBasicInformation, &basic, sizeof basic, nullptr) != 0)
            continue;
        ULONG bytes = 0;
        ReadProcessMemory(process.get(), static_cast<const char*>(basic.environmentBlock) + kGuaranteeInBlock, &bytes,
                          sizeof bytes, nullptr);
        kept.push_back(bytes);
    }
    return kept;
}

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string reportsFolder()
{
    return environment("LOCALAPPDATA") + "\\TovinLauncher\\CrashReports";
}

// The reports of the folder that are not in `before`: the hang reports, or the others.
std::vector<std::string> newReports(const std::vector<std::string>& before, bool hang)
{
    const std::string hangEnd = "-hang.dmp";
    std::vector<std::string> found;
    for (const auto& name : filesMatching(reportsFolder() + "\\TovinLauncher-*.dmp")) {
        const bool isHang = name.size() > hangEnd.size() && name.ends_with(hangEnd);
        if (isHang == hang && std::find(before.begin(), before.end(), name) == before.end())
            found.push_back(name);
    }
    return found;
}

struct EndsProcess {
    DWORD id;
    ~EndsProcess() { terminateProcessId(id); }
};

class LauncherCrash : public LauncherFixture {
protected:
    void SetUp() override
    {
        // The program as it ships: stripped, as in the package.
        dir_.copyFromBuild("release\\TovinLauncher.exe", "TovinLauncher.exe");
        installGame();
        original_ = currentMode();
        before_ = filesMatching(reportsFolder() + "\\TovinLauncher-*.dmp");
    }
    void TearDown() override
    {
        if (currentMode() != original_)
            ChangeDisplaySettingsA(nullptr, 0); // the other tests start from the usual mode
    }

    // Starts the launcher with the display switched, then `work`; gives the game's id.
    DWORD startSwitched(const std::string& work = "")
    {
        launcher_ = startLauncher("wait-title 30000; flash; call ScreenResolutionEnable 800 600 32; answer; mode; " +
                                  work + (work.empty() ? "" : "; ") + "pid; sleep 120000");
        const std::string pidLine = waitForLine(transcript(), "pid ", 120000);
        EXPECT_FALSE(pidLine.empty()) << readFile(transcript());
        EXPECT_EQ(currentMode(), "800x600");
        return static_cast<DWORD>(std::strtoul(pidLine.c_str() + 4, nullptr, 10));
    }

    // A thread of the launcher's started at `start`, which its main thread never runs.
    void startRemoteThread(DWORD_PTR start) const
    {
        const UniqueHandle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, launcher_->id()));
        ASSERT_TRUE(process);
        const UniqueHandle thread(CreateRemoteThread(
            process.get(), nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(start), nullptr, 0, nullptr));
        ASSERT_TRUE(thread);
    }

    // Where the launcher's program lies in its process (nothing when it cannot be read).
    MODULEENTRY32 launcherModule() const
    {
        const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, launcher_->id()));
        MODULEENTRY32 module = {};
        module.dwSize = sizeof module;
        if (!snapshot || !Module32First(snapshot.get(), &module))
            module = {};
        return module;
    }

    // The one new report, copied as `copy` for the script that reads it.
    void keepTheOneReport(bool hang, const std::string& copy) const
    {
        const auto reports = newReports(before_, hang);
        ASSERT_EQ(reports.size(), 1u);
        const std::string copies = environment("TOVIN_CRASH_COPIES");
        if (!copies.empty())
            CopyFileA((reportsFolder() + "\\" + reports[0]).c_str(), (copies + "\\" + copy).c_str(), FALSE);
    }

    // The launcher ends by itself, with the display put back.
    void expectTheEnd(DWORD exitCode) const
    {
        ASSERT_TRUE(launcher_->waitForExit(kCrashLimitMs)) << "the launcher outlived its crash";
        EXPECT_EQ(launcher_->exitCode(), exitCode);
        EXPECT_EQ(currentMode(), original_) << "the mode must be put back";
    }

    std::unique_ptr<ChildProcess> launcher_;
    std::string original_;
    std::vector<std::string> before_;
};

TEST_F(LauncherCrash, ABadAddressLeavesAReportAndTheDisplayBack)
{
    const EndsProcess game{startSwitched()};
    startRemoteThread(0x10);
    expectTheEnd(EXCEPTION_ACCESS_VIOLATION);
    keepTheOneReport(false, "bad-address.dmp");
}

TEST_F(LauncherCrash, StdTerminateLeavesAReportAndTheDisplayBack)
{
    // Its place in the program, from the program's symbols (launcher-crash-test.sh).
    const DWORD_PTR terminate = std::strtoull(environment("TOVIN_TERMINATE_RVA").c_str(), nullptr, 16);
    ASSERT_NE(terminate, 0u);
    const EndsProcess game{startSwitched()};
    const auto base = reinterpret_cast<DWORD_PTR>(launcherModule().modBaseAddr);
    ASSERT_NE(base, 0u);
    startRemoteThread(base + terminate);
    expectTheEnd(kAbortExitCode);
    keepTheOneReport(false, "terminate.dmp");
}

// During a download that trickles: one hang report while the main thread is stopped,
// none after, and the launcher answers again once it goes on.
TEST_F(LauncherCrash, AMainThreadStoppedFor30SecondsLeavesOneHangReportAndGoesOn)
{
    const char* port = std::getenv("TOVIN_HTTP_PORT");
    const std::string url = "http://127.0.0.1:" + std::string(port ? port : "0") + "/slow/100000/60";
    const EndsProcess game{startSwitched("call HttpDownload " + quoted(url) + " " + quoted(dir_.file("x.bin")))};
    // Bytes in the partial file: the main thread has long passed the download's start.
    const auto bodyUnderWay = [this] {
        const auto partial = filesMatching(dir_.file("tvn*.tmp"));
        return !partial.empty() && !readFile(dir_.file(partial[0])).empty();
    };
    ASSERT_TRUE(waitUntil(bodyUnderWay, kLongWait)) << "the body is under way";
    // Its main, receive, watchdog, reporting and download threads, at least.
    const std::vector<ULONG> kept = stacksKeptForCrash(launcher_->id(), launcherModule());
    EXPECT_GE(kept.size(), 5u);
    for (const ULONG bytes : kept)
        EXPECT_GE(bytes, win::kCrashStackBytes) << "a thread of the launcher keeps no stack for the crash path";
    const HWND window = FindWindowA(kWindowClassName, nullptr);
    ASSERT_NE(window, nullptr);
    const UniqueHandle mainThread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(window, nullptr)));
    ASSERT_TRUE(mainThread);

    ASSERT_NE(SuspendThread(mainThread.get()), static_cast<DWORD>(-1));
    const ULONGLONG resumeAt = GetTickCount64() + kSuspendedMs;
    const bool reported = waitUntil([this] { return !newReports(before_, true).empty(); }, kSuspendedMs);
    Sleep(static_cast<DWORD>(resumeAt > GetTickCount64() ? resumeAt - GetTickCount64() : 0));
    EXPECT_TRUE(reported) << "no hang report while the main thread was stopped";
    EXPECT_EQ(newReports(before_, true).size(), 1u) << "one report for one hang";
    ResumeThread(mainThread.get());

    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer)) << "it did not go on";
    EXPECT_EQ(newReports(before_, true).size(), 1u);
    EXPECT_EQ(newReports(before_, false).size(), 0u) << "a hang is no crash";
    keepTheOneReport(true, "hang.dmp");
    terminateProcessId(game.id);
    expectTheEnd(1);
}

} // namespace
