#include "support/WinProcess.h"

#include "support/Wait.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

std::string buildDirectory()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of("\\/"));
}

namespace {

void removeTree(const std::string& folder)
{
    WIN32_FIND_DATAA entry;
    const UniqueFindHandle find(FindFirstFileA((folder + "\\*").c_str(), &entry));
    if (find) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string full = folder + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(full);
            else {
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(find.get(), &entry));
    }
    RemoveDirectoryA(folder.c_str());
}

} // namespace

TempDir::TempDir()
{
    static int counter = 0;
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    path_ = std::string(base) + "tovin-test-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount()) + "-" + std::to_string(++counter);
    CreateDirectoryA(path_.c_str(), nullptr);
}

TempDir::~TempDir()
{
    removeTree(path_);
}

void TempDir::copyFromBuild(const std::string& name, const std::string& as) const
{
    CopyFileA((buildDirectory() + "\\" + name).c_str(), file(as.empty() ? name : as).c_str(), FALSE);
}

ChildProcess::ChildProcess(const std::string& program, const std::string& arguments, const std::string& directory,
                           const std::map<std::string, std::string>& environment, const std::string& outputPrefix)
{
    std::map<std::string, std::string> merged;
    if (char* block = GetEnvironmentStringsA()) {
        for (const char* entry = block; *entry; entry += std::strlen(entry) + 1) {
            const std::string text(entry);
            const auto equals = text.find('=', 1);
            if (equals != std::string::npos)
                merged[text.substr(0, equals)] = text.substr(equals + 1);
        }
        FreeEnvironmentStringsA(block);
    }
    for (const auto& [name, value] : environment)
        merged[name] = value;
    std::string block;
    for (const auto& [name, value] : merged)
        block += name + "=" + value + '\0';
    block += '\0';

    std::string commandLine = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    const auto create = [&](const std::string& path) {
        return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
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
    if (CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, outputPrefix.empty() ? FALSE : TRUE, 0,
                       block.data(), directory.c_str(), &startup, &info)) {
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
    std::ifstream in(path, std::ios::binary);
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
    std::ofstream(path, std::ios::binary) << content;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool fileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> filesMatching(const std::string& pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    const UniqueFindHandle find(FindFirstFileA(pattern.c_str(), &entry));
    if (!find)
        return names;
    do
        names.push_back(entry.cFileName);
    while (FindNextFileA(find.get(), &entry));
    return names;
}
