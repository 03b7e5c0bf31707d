// Helpers for tests that run the real launcher and the stand-in game under Wine. Every
// name and text is UTF-8, and meets Windows in UTF-16.
#pragma once

#include "win/WinHandles.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// The folder of the running test program, where the build puts the launcher and tovin.dll.
std::string buildDirectory();

// A fresh folder under %TEMP%, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "\\" + name; }
    // Copies a program of the build folder into this folder (under `as` if given).
    void copyFromBuild(const std::string& name, const std::string& as = "") const;

private:
    std::string path_;
};

// A process started by a test, with extra environment variables; killed if still
// running at the end of the test, so that nothing is left behind.
class ChildProcess {
public:
    // With `outputPrefix`, standard output and error go to the files PREFIX.out and PREFIX.err.
    ChildProcess(const std::string& program, const std::string& arguments, const std::string& directory,
                 const std::map<std::string, std::string>& environment, const std::string& outputPrefix = "");
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return static_cast<bool>(process_); }
    DWORD id() const { return id_; }
    HANDLE handle() const { return process_.get(); }
    bool waitForExit(DWORD timeoutMs) const;
    DWORD exitCode() const;

private:
    UniqueHandle process_;
    DWORD id_ = 0;
};

bool processIsRunning(DWORD processId);
void terminateProcessId(DWORD processId);

std::vector<std::string> readLines(const std::string& path);
// Waits until some line of the file starts with `prefix`; returns that line or "".
std::string waitForLine(const std::string& path, const std::string& prefix, DWORD timeoutMs);
void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
// The names of the files that match `pattern` (a folder and wildcards, as "C:\\x\\tvn*.tmp").
std::vector<std::string> filesMatching(const std::string& pattern);
