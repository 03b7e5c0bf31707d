#include "services/CrashReport.h"

#include "version.h"
#include "win/WinHandles.h"

#include <dbghelp.h>

namespace {

// No heap and no C runtime below: the process is in an unknown state.
constexpr wchar_t kFolder[] = L"\\TovinLauncher\\CrashReports";
constexpr wchar_t kPattern[] = L"TovinLauncher-*.dmp";
// Older reports looked at per crash: a folder that somehow holds more is trimmed over
// several crashes rather than holding this one up.
constexpr int kMostReportsLookedAt = 1024;

volatile LONG g_writing = 0;

using MiniDumpWriteDumpFunction = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                                PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

class LoadedLibrary {
public:
    explicit LoadedLibrary(const wchar_t* path) : module_(LoadLibraryW(path)) {}
    ~LoadedLibrary()
    {
        if (module_)
            FreeLibrary(module_);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

// The folder, made if need be; false when there is no LOCALAPPDATA or it cannot be made.
bool reportFolder(wchar_t (&folder)[MAX_PATH])
{
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH);
    if (length == 0 || length + ARRAYSIZE(kFolder) + 64 > MAX_PATH)
        return false; // room is left for the file's name
    lstrcatW(folder, L"\\TovinLauncher");
    CreateDirectoryW(folder, nullptr);
    lstrcatW(folder, L"\\CrashReports");
    return CreateDirectoryW(folder, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool newer(const FILETIME& a, const FILETIME& b)
{
    return CompareFileTime(&a, &b) > 0;
}

struct Kept {
    FILETIME written;
    wchar_t name[MAX_PATH];
};

// Deletes every report but the newest kCrashReportsKept, by the time each was written.
void keepNewest(const wchar_t* folder)
{
    // Room for the folder and any name the search finds (each under MAX_PATH).
    wchar_t path[2 * MAX_PATH];
    wsprintfW(path, L"%s\\%s", folder, kPattern);
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW(path, &found));
    if (!search)
        return;
    Kept kept[kCrashReportsKept + 1];
    int count = 0;
    int lookedAt = 0;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        Kept& slot = kept[count];
        slot.written = found.ftLastWriteTime;
        lstrcpynW(slot.name, found.cFileName, MAX_PATH);
        if (count < kCrashReportsKept) {
            ++count;
            continue;
        }
        // One too many: the oldest of them goes.
        int oldest = 0;
        for (int i = 1; i <= kCrashReportsKept; ++i) {
            if (newer(kept[oldest].written, kept[i].written))
                oldest = i;
        }
        wsprintfW(path, L"%s\\%s", folder, kept[oldest].name);
        DeleteFileW(path);
        kept[oldest] = kept[kCrashReportsKept];
    } while (++lookedAt < kMostReportsLookedAt && FindNextFileW(search.get(), &found));
}

} // namespace

bool writeCrashReport(EXCEPTION_POINTERS* exception)
{
    if (InterlockedExchange(&g_writing, 1) != 0) {
        // A fault while the report is written, or a second thread's crash meanwhile: no
        // second report, and no way back into a filter that faults.
        TerminateProcess(GetCurrentProcess(), exception ? exception->ExceptionRecord->ExceptionCode : 1);
        return false;
    }
    wchar_t folder[MAX_PATH];
    if (!reportFolder(folder))
        return false;

    // The system's own dbghelp.dll, never one that lies beside the program.
    wchar_t library[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryW(library, MAX_PATH);
    if (systemLength == 0 || systemLength + 16 > MAX_PATH)
        return false;
    lstrcatW(library, L"\\dbghelp.dll");
    LoadedLibrary dbghelp(library);
    const auto writeDump = dbghelp.get() ? reinterpret_cast<MiniDumpWriteDumpFunction>(reinterpret_cast<void*>(
                                               GetProcAddress(dbghelp.get(), "MiniDumpWriteDump")))
                                         : nullptr;
    if (!writeDump)
        return false;

    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t path[MAX_PATH];
    wsprintfW(path, L"%s\\TovinLauncher-%S-%04u%02u%02u-%02u%02u%02u-%lu.dmp", folder, TOVIN_VERSION_TEXT, now.wYear,
              now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, GetCurrentProcessId());
    bool written = false;
    {
        UniqueFileHandle file(
            CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        MINIDUMP_EXCEPTION_INFORMATION information = {GetCurrentThreadId(), exception, FALSE};
        written = writeDump(GetCurrentProcess(), GetCurrentProcessId(), file.get(), MiniDumpNormal,
                            exception ? &information : nullptr, nullptr, nullptr) != FALSE;
    }
    if (!written)
        DeleteFileW(path); // half a report would only mislead
    keepNewest(folder);
    return written;
}
