#include "support/WinProcess.h"

#include "support/Wait.h"
#include "win/WideText.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

std::string buildDirectory()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::string folder = win::narrow(path);
    return folder.substr(0, folder.find_last_of("\\/"));
}

namespace {

// A full path from a drive in the \\?\ form: a test's folders may be longer than MAX_PATH.
std::wstring longForm(const std::string& path)
{
    const std::wstring wide = win::widen(path);
    const bool fromADrive = wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\';
    return fromADrive && wide.find(L'/') == std::wstring::npos ? L"\\\\?\\" + wide : wide;
}

void removeTree(const std::string& folder)
{
    WIN32_FIND_DATAW entry;
    const UniqueFindHandle find(FindFirstFileW(longForm(folder + "\\*").c_str(), &entry));
    if (find) {
        do {
            const std::string name = win::narrow(entry.cFileName);
            if (name == "." || name == "..")
                continue;
            const std::string full = folder + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(full);
            else {
                SetFileAttributesW(longForm(full).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(longForm(full).c_str());
            }
        } while (FindNextFileW(find.get(), &entry));
    }
    RemoveDirectoryW(longForm(folder).c_str());
}

std::filesystem::path fsPath(const std::string& path)
{
    return std::filesystem::path(longForm(path));
}

} // namespace

TempDir::TempDir()
{
    static int counter = 0;
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, base);
    path_ = win::narrow(base) + "tovin-test-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount()) + "-" + std::to_string(++counter);
    CreateDirectoryW(win::widen(path_).c_str(), nullptr);
}

TempDir::~TempDir()
{
    removeTree(path_);
}

void TempDir::copyFromBuild(const std::string& name, const std::string& as) const
{
    CopyFileW(win::widen(buildDirectory() + "\\" + name).c_str(), win::widen(file(as.empty() ? name : as)).c_str(),
              FALSE);
}

ChildProcess::ChildProcess(const std::string& program, const std::string& arguments, const std::string& directory,
                           const std::map<std::string, std::string>& environment, const std::string& outputPrefix)
{
    // In UTF-16 throughout: values and folders hold any name.
    std::map<std::wstring, std::wstring> merged;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry; entry += std::wcslen(entry) + 1) {
            const std::wstring text(entry);
            const auto equals = text.find(L'=', 1);
            if (equals != std::wstring::npos)
                merged[text.substr(0, equals)] = text.substr(equals + 1);
        }
        FreeEnvironmentStringsW(block);
    }
    for (const auto& [name, value] : environment)
        merged[win::widen(name)] = win::widen(value);
    std::wstring block;
    for (const auto& [name, value] : merged)
        block += name + L"=" + value + L'\0';
    block += L'\0';

    std::wstring commandLine = win::widen("\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    const auto create = [&](const std::string& path) {
        return CreateFileW(win::widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    // The child holds its own copies; ours close at the end of the constructor.
    UniqueFileHandle output(outputPrefix.empty() ? INVALID_HANDLE_VALUE : create(outputPrefix + ".out"));
    UniqueFileHandle errors(outputPrefix.empty() ? INVALID_HANDLE_VALUE : create(outputPrefix + ".err"));
    if (!outputPrefix.empty()) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output.get();
        startup.hStdError = errors.get();
    }
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(win::widen(program).c_str(), commandLine.data(), nullptr, nullptr,
                       outputPrefix.empty() ? FALSE : TRUE, CREATE_UNICODE_ENVIRONMENT, block.data(),
                       win::widen(directory).c_str(), &startup, &info)) {
        UniqueHandle thread(info.hThread); // not needed: closed at once
        process_.reset(info.hProcess);
        id_ = info.dwProcessId;
    }
}

ChildProcess::~ChildProcess()
{
    if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.get(), 99);
        WaitForSingleObject(process_.get(), 5000);
    }
}

bool ChildProcess::waitForExit(DWORD timeoutMs) const
{
    return process_ && WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD ChildProcess::exitCode() const
{
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return code;
}

bool processIsRunning(DWORD processId)
{
    const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

void terminateProcessId(DWORD processId)
{
    const UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
    if (!process)
        return;
    TerminateProcess(process.get(), 99);
    WaitForSingleObject(process.get(), 5000);
}

std::vector<std::string> readLines(const std::string& path)
{
    std::ifstream in(fsPath(path), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string waitForLine(const std::string& path, const std::string& prefix, DWORD timeoutMs)
{
    std::string found;
    waitUntil(
        [&] {
            for (const auto& line : readLines(path)) {
                if (line.rfind(prefix, 0) == 0) {
                    found = line;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(fsPath(path), std::ios::binary) << content;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(fsPath(path), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool fileExists(const std::string& path)
{
    return GetFileAttributesW(longForm(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> filesMatching(const std::string& pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    const UniqueFindHandle find(FindFirstFileW(win::widen(pattern).c_str(), &entry));
    if (!find)
        return names;
    do
        names.push_back(win::narrow(entry.cFileName));
    while (FindNextFileW(find.get(), &entry));
    return names;
}
