#include "reports/CrashReport.h"

#include "display/DisplayRestoreOnCrash.h"
#include "reports/ReportNotes.h"
#include "version.h"
#include "win/CrashStack.h"
#include "win/WinHandles.h"

#include <dbghelp.h>
#include <psapi.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace {

// Nothing below allocates, and the broken thread runs none of it but the hand-over: the
// process is in an unknown state, and that thread may have no stack left.
constexpr wchar_t kFolder[] = L"\\TovinLauncher\\CrashReports";
constexpr wchar_t kCrashPattern[] = L"TovinLauncher-*.dmp";
constexpr wchar_t kHangPattern[] = L"TovinLauncher-*-hang.dmp";
constexpr wchar_t kHangSuffix[] = L"-hang.dmp";
constexpr wchar_t kPartSuffix[] = L".part";
constexpr wchar_t kPartPattern[] = L"TovinLauncher-*.dmp.part";
// Older reports looked at per report: a folder that somehow holds more is trimmed over
// several reports rather than holding this one up.
constexpr int kMostReportsLookedAt = 1024;
// The broken thread waits for its report while the reporting thread works, and no longer
// once it has used no processor time for kReportStallMs: stuck on a lock that the broken
// process never lets go of, it must not keep the crash from the system. Under wine64,
// whose dbghelp copies every function's unwind data as a block of its own, a report is
// 3 to 16 s of steady work by the machine's load; a 32-bit image has no such tables.
// kReportWaitMs caps a reporting thread that works without end.
constexpr DWORD kReportStallMs = 10000;
constexpr DWORD kReportWaitMs = 60000;
constexpr DWORD kReportLookMs = 500;
// Reserved address space, committed only as used: dbghelp's writing is the deepest user
// (under wine64 a report touched 39 KiB of it); a 32-bit process has 2 GB for everything.
constexpr SIZE_T kReporterStackBytes = 256 * 1024;
// The code map's bounds: this launcher loads about 30 modules, and a PE image has one or
// two code sections.
constexpr DWORD kMostModules = 256;
constexpr int kMostCodeSections = 4;
constexpr WORD kMostSectionsLookedAt = 96;
constexpr std::size_t kNotesBytes = 8192;

using MiniDumpWriteDumpFunction = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                                PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

// The code map stream, read by scripts/crash-report.py: a header, then one entry a module.
struct CodeSection {
    std::uint32_t rva;
    std::uint32_t size;
};
struct MappedModule {
    std::uint64_t base;
    std::uint32_t imageSize;
    std::uint32_t sections;
    CodeSection code[kMostCodeSections];
};
struct CodeMap {
    std::uint32_t version;
    std::uint32_t modules;
    std::uint64_t ownCode; // where the own code stream's bytes lie
    std::uint32_t ownCodeSize;
    std::uint32_t reserved;
    MappedModule module[kMostModules];
};
static_assert(sizeof(MappedModule) == 48 && offsetof(CodeMap, module) == 24, "the layout crash-report.py reads");

// Made once at start-up and kept for the process's life: a crash can come at any moment
// until the process is gone, the runtime's exit processing included, so nothing of it is
// ever closed or freed.
struct Reporter {
    MiniDumpWriteDumpFunction writeDump = nullptr;
    HANDLE crashAsked = nullptr;   // auto reset: a crash's pointers are in place
    HANDLE hangAsked = nullptr;    // auto reset
    HANDLE crashWritten = nullptr; // manual reset: the crash's report is written, or failed
    HANDLE mainThread = nullptr;
    HANDLE thread = nullptr; // the reporting thread
    DWORD threadId = 0;
    const void* ownCode = nullptr;
    DWORD ownCodeSize = 0;
    wchar_t localAppData[MAX_PATH] = {};
};

Reporter g_reporter;
std::atomic<bool> g_ready{false};
std::atomic<bool> g_crashClaimed{false};
std::atomic<bool> g_hangPending{false};
// Written by the one thread that claimed the crash, before it sets crashAsked.
EXCEPTION_POINTERS* g_crashException = nullptr;
DWORD g_crashThread = 0;
CONTEXT g_badEndContext;
EXCEPTION_RECORD g_badEndRecord;
EXCEPTION_POINTERS g_badEndPointers;
// The reporting thread's own.
char g_notes[kNotesBytes];
CodeMap g_codeMap;

// A read that fails instead of faulting: a module may be unloaded while it is described.
bool readOwn(const void* at, void* into, SIZE_T size)
{
    SIZE_T read = 0;
    return ReadProcessMemory(GetCurrentProcess(), at, into, size, &read) && read == size;
}

// The executable sections of the module at `base`, from its headers in memory.
bool describeModule(const BYTE* base, MappedModule& out)
{
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS nt;
    if (!readOwn(base, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0 ||
        !readOwn(base + dos.e_lfanew, &nt, sizeof nt) || nt.Signature != IMAGE_NT_SIGNATURE)
        return false;
    out = {};
    out.base = reinterpret_cast<std::uintptr_t>(base);
    out.imageSize = nt.OptionalHeader.SizeOfImage;
    const BYTE* section =
        base + dos.e_lfanew + offsetof(IMAGE_NT_HEADERS, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
    const WORD count = nt.FileHeader.NumberOfSections;
    for (WORD i = 0; i < count && i < kMostSectionsLookedAt && out.sections < kMostCodeSections; ++i) {
        IMAGE_SECTION_HEADER header;
        if (!readOwn(section + i * sizeof header, &header, sizeof header))
            return false;
        if (header.Characteristics & IMAGE_SCN_MEM_EXECUTE)
            out.code[out.sections++] = {header.VirtualAddress, header.Misc.VirtualSize};
    }
    return true;
}

void fillCodeMap()
{
    g_codeMap.version = 1;
    g_codeMap.modules = 0;
    g_codeMap.ownCode = reinterpret_cast<std::uintptr_t>(g_reporter.ownCode);
    g_codeMap.ownCodeSize = g_reporter.ownCodeSize;
    HMODULE modules[kMostModules];
    DWORD needed = 0;
    if (!K32EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &needed))
        return;
    const DWORD count = needed / sizeof(HMODULE) < kMostModules ? needed / sizeof(HMODULE) : kMostModules;
    for (DWORD i = 0; i < count; ++i) {
        if (describeModule(reinterpret_cast<const BYTE*>(modules[i]), g_codeMap.module[g_codeMap.modules]))
            ++g_codeMap.modules;
    }
}

// The folder, made if need be.
bool makeFolder(wchar_t (&folder)[MAX_PATH])
{
    lstrcpyW(folder, g_reporter.localAppData);
    lstrcatW(folder, L"\\TovinLauncher");
    CreateDirectoryW(folder, nullptr);
    lstrcatW(folder, L"\\CrashReports");
    return CreateDirectoryW(folder, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool newer(const FILETIME& a, const FILETIME& b)
{
    return CompareFileTime(&a, &b) > 0;
}

bool endsWith(const wchar_t* name, const wchar_t* suffix)
{
    const int length = lstrlenW(name);
    const int suffixLength = lstrlenW(suffix);
    return length >= suffixLength && lstrcmpiW(name + length - suffixLength, suffix) == 0;
}

struct Kept {
    FILETIME written;
    wchar_t name[MAX_PATH];
};

// Deletes what reports cut short left: only one report is written at a time.
void removeCutReports(const wchar_t* folder)
{
    wchar_t path[2 * MAX_PATH];
    wsprintfW(path, L"%s\\%s", folder, kPartPattern);
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW(path, &found));
    if (!search)
        return;
    int lookedAt = 0;
    do {
        wsprintfW(path, L"%s\\%s", folder, found.cFileName);
        DeleteFileW(path);
    } while (++lookedAt < kMostReportsLookedAt && FindNextFileW(search.get(), &found));
}

// Deletes every report of a kind but the newest ones, by the time each was written.
void keepNewest(const wchar_t* folder, bool hang)
{
    constexpr int kMostKept = kCrashReportsKept > kHangReportsKept ? kCrashReportsKept : kHangReportsKept;
    const int keep = hang ? kHangReportsKept : kCrashReportsKept;
    // Room for the folder and any name the search finds (each under MAX_PATH).
    wchar_t path[2 * MAX_PATH];
    wsprintfW(path, L"%s\\%s", folder, hang ? kHangPattern : kCrashPattern);
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW(path, &found));
    if (!search)
        return;
    Kept kept[kMostKept + 1];
    int count = 0;
    int lookedAt = 0;
    do {
        // The crash reports' pattern also finds the hang reports, which are kept apart.
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (!hang && endsWith(found.cFileName, kHangSuffix)))
            continue;
        Kept& slot = kept[count];
        slot.written = found.ftLastWriteTime;
        lstrcpynW(slot.name, found.cFileName, MAX_PATH);
        if (count < keep) {
            ++count;
            continue;
        }
        // One too many: the oldest of them goes.
        int oldest = 0;
        for (int i = 1; i <= keep; ++i) {
            if (newer(kept[oldest].written, kept[i].written))
                oldest = i;
        }
        wsprintfW(path, L"%s\\%s", folder, kept[oldest].name);
        DeleteFileW(path);
        kept[oldest] = kept[keep];
    } while (++lookedAt < kMostReportsLookedAt && FindNextFileW(search.get(), &found));
}

// On the reporting thread: one report, for `exception` on thread `threadId`.
bool writeReport(EXCEPTION_POINTERS* exception, DWORD threadId, bool hang)
{
    wchar_t folder[MAX_PATH];
    if (!makeFolder(folder))
        return false;
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t path[MAX_PATH];
    wsprintfW(path, L"%s\\TovinLauncher-%S-%04u%02u%02u-%02u%02u%02u-%lu%s", folder, TOVIN_VERSION_TEXT, now.wYear,
              now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, GetCurrentProcessId(),
              hang ? kHangSuffix : L".dmp");
    // Written under another name and renamed once whole: a report cut short (a fault
    // inside it ends the process) is never taken for one.
    wchar_t part[MAX_PATH + 8];
    wsprintfW(part, L"%s%s", path, kPartSuffix);

    const std::size_t notesLength = notes::writeNotes(g_notes, sizeof g_notes);
    fillCodeMap();
    MINIDUMP_USER_STREAM streams[] = {
        {kNotesStream, static_cast<ULONG>(notesLength), g_notes},
        {kCodeMapStream, static_cast<ULONG>(offsetof(CodeMap, module) + g_codeMap.modules * sizeof(MappedModule)),
         &g_codeMap},
        // Straight from the image: the code as it ran, patched or not.
        {kOwnCodeStream, g_reporter.ownCodeSize, const_cast<void*>(g_reporter.ownCode)},
    };
    MINIDUMP_USER_STREAM_INFORMATION user = {g_reporter.ownCodeSize ? 3UL : 2UL, streams};
    bool written = false;
    {
        UniqueFileHandle file(
            CreateFileW(part, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        MINIDUMP_EXCEPTION_INFORMATION information = {threadId, exception, FALSE};
        written = g_reporter.writeDump(GetCurrentProcess(), GetCurrentProcessId(), file.get(), MiniDumpNormal,
                                       exception ? &information : nullptr, &user, nullptr) != FALSE;
    }
    written = written && MoveFileExW(part, path, MOVEFILE_REPLACE_EXISTING);
    if (!written)
        DeleteFileW(part); // half a report would only mislead
    removeCutReports(folder);
    keepNewest(folder, hang);
    return written;
}

void* instructionPointer(const CONTEXT& context)
{
#ifdef _WIN64
    return reinterpret_cast<void*>(context.Rip);
#else
    return reinterpret_cast<void*>(context.Eip);
#endif
}

// The main thread, marked as hung: its context, read while it is stopped for that moment,
// is the record's.
void writeHangReport()
{
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_FULL;
    if (SuspendThread(g_reporter.mainThread) == static_cast<DWORD>(-1))
        return;
    const BOOL read = GetThreadContext(g_reporter.mainThread, &context);
    ResumeThread(g_reporter.mainThread);
    if (!read)
        return;
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = kHangCode;
    record.ExceptionAddress = instructionPointer(context);
    EXCEPTION_POINTERS pointers = {&record, &context};
    writeReport(&pointers, notes::mainThreadId(), true);
}

DWORD WINAPI reporterEntry(void*)
{
    win::keepStackForCrash();
    const HANDLE asked[] = {g_reporter.crashAsked, g_reporter.hangAsked};
    for (;;) {
        // A crash comes first: the lower index wins when both are set.
        switch (WaitForMultipleObjects(2, asked, FALSE, INFINITE)) {
        case WAIT_OBJECT_0:
            // The display first: the player gets the screen back even if the report fails.
            restoreDisplayModeAfterCrash();
            writeReport(g_crashException, g_crashThread, false);
            SetEvent(g_reporter.crashWritten);
            break;
        case WAIT_OBJECT_0 + 1:
            if (!g_crashClaimed.load())
                writeHangReport();
            g_hangPending.store(false);
            break;
        default:
            return 0;
        }
    }
}

// The reporting thread's processor time so far, in 100 ns.
ULONGLONG reporterTime()
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(g_reporter.thread, &created, &exited, &kernel, &user))
        return 0;
    return ((ULONGLONG{kernel.dwHighDateTime} << 32) | kernel.dwLowDateTime) +
           ((ULONGLONG{user.dwHighDateTime} << 32) | user.dwLowDateTime);
}

// Waits for the crash's report. When the wait gives up, the reporting thread may never
// come to the display (stuck, say, in a hang report's dump, which waits for the loader
// lock that the hung main thread holds), so this thread puts the display back itself;
// not after a stack overflow, whose thread has only the guarantee left (win/CrashStack.h),
// too little for user32 (a display change sends its notice to the windows, this
// thread's own among them).
void waitForReport(bool overflow)
{
    ULONGLONG lastTime = reporterTime();
    DWORD stalledMs = 0;
    for (DWORD waitedMs = 0; waitedMs < kReportWaitMs && stalledMs < kReportStallMs; waitedMs += kReportLookMs) {
        if (WaitForSingleObject(g_reporter.crashWritten, kReportLookMs) != WAIT_TIMEOUT)
            return;
        const ULONGLONG time = reporterTime();
        stalledMs = time == lastTime ? stalledMs + kReportLookMs : 0;
        lastTime = time;
    }
    if (!overflow)
        restoreDisplayModeAfterCrash();
}

// Whether a crash is a stack overflow, read without faulting: the pointers come from a
// process in an unknown state.
bool stackOverflowed(const EXCEPTION_POINTERS* exception)
{
    std::uintptr_t record = 0; // where the record lies
    DWORD code = 0;
    return exception && readOwn(&exception->ExceptionRecord, &record, sizeof record) && record != 0 &&
           readOwn(reinterpret_cast<const BYTE*>(record) + offsetof(EXCEPTION_RECORD, ExceptionCode), &code,
                   sizeof code) &&
           code == EXCEPTION_STACK_OVERFLOW;
}

// Whether this thread's end is the one to report. Not when there is no reporting thread
// (the display is put back here then, but after a stack overflow), nor on the reporting
// thread (a fault inside a report is left to the system), nor after another thread's
// crash (one report, then the system: this thread waits for it).
bool claimCrash(bool overflow)
{
    if (!g_ready.load()) {
        if (!overflow)
            restoreDisplayModeAfterCrash();
        return false;
    }
    if (GetCurrentThreadId() == g_reporter.threadId)
        return false;
    if (g_crashClaimed.exchange(true)) {
        waitForReport(overflow);
        return false;
    }
    return true;
}

void handOver(EXCEPTION_POINTERS* exception, bool overflow)
{
    g_crashException = exception;
    g_crashThread = GetCurrentThreadId();
    SetEvent(g_reporter.crashAsked);
    waitForReport(overflow);
}

} // namespace

void prepareCrashReports()
{
    if (g_ready.load())
        return;
    Reporter& reporter = g_reporter;
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", reporter.localAppData, MAX_PATH);
    if (length == 0 || length + ARRAYSIZE(kFolder) + 80 > MAX_PATH)
        return; // room is left for the file's name

    // The system's own dbghelp.dll, never one that lies beside the program; kept loaded.
    wchar_t library[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryW(library, MAX_PATH);
    if (systemLength == 0 || systemLength + 16 > MAX_PATH)
        return;
    lstrcatW(library, L"\\dbghelp.dll");
    const HMODULE dbghelp = LoadLibraryW(library);
    reporter.writeDump = dbghelp ? reinterpret_cast<MiniDumpWriteDumpFunction>(
                                       reinterpret_cast<void*>(GetProcAddress(dbghelp, "MiniDumpWriteDump")))
                                 : nullptr;
    if (!reporter.writeDump)
        return;

    UniqueHandle crashAsked(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    UniqueHandle hangAsked(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    UniqueHandle crashWritten(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE mainThread = nullptr;
    if (!crashAsked || !hangAsked || !crashWritten ||
        !DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &mainThread,
                         THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, 0))
        return;
    UniqueHandle mainThreadOwner(mainThread);
    reporter.crashAsked = crashAsked.get();
    reporter.hangAsked = hangAsked.get();
    reporter.crashWritten = crashWritten.get();
    reporter.mainThread = mainThread;
    notes::noteMainThread(GetCurrentThreadId());

    const auto* own = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    MappedModule module;
    if (own && describeModule(own, module) && module.sections > 0) {
        reporter.ownCode = own + module.code[0].rva;
        reporter.ownCodeSize = module.code[0].size;
    }

    UniqueHandle thread(CreateThread(nullptr, kReporterStackBytes, reporterEntry, nullptr,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, &reporter.threadId));
    if (!thread)
        return;
    notes::noteReportingThread(reporter.threadId);
    // From here on they live as long as the process.
    reporter.thread = thread.release();
    static_cast<void>(crashAsked.release());
    static_cast<void>(hangAsked.release());
    static_cast<void>(crashWritten.release());
    static_cast<void>(mainThreadOwner.release());
    g_ready.store(true);
}

void reportCrash(EXCEPTION_POINTERS* exception)
{
    const bool overflow = stackOverflowed(exception);
    if (claimCrash(overflow))
        handOver(exception, overflow);
}

__attribute__((noinline)) void reportBadEnd(DWORD code)
{
    if (!claimCrash(false))
        return;
    // In static storage, now that this thread alone writes them: the thread's stack keeps
    // no copy of its own context for a report's stack scan to find again.
    RtlCaptureContext(&g_badEndContext);
    g_badEndRecord = {};
    g_badEndRecord.ExceptionCode = code;
    g_badEndRecord.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    g_badEndRecord.ExceptionAddress = instructionPointer(g_badEndContext);
    g_badEndPointers = {&g_badEndRecord, &g_badEndContext};
    handOver(&g_badEndPointers, false);
}

bool requestHangReport()
{
    if (!g_ready.load() || g_crashClaimed.load() || g_hangPending.exchange(true))
        return false;
    SetEvent(g_reporter.hangAsked);
    return true;
}

bool crashReportUnderWay()
{
    return g_crashClaimed.load();
}
