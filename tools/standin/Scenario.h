// The stand-in game's scenario: a list of commands run one after the other.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class Scenario {
public:
    Scenario(const std::string& script, std::vector<HWND> windows);

    // Runs every command; the result is the process exit code (0 unless `exit` says).
    int run();

private:
    bool runCommand(const std::vector<std::string>& words, int& exitCode);
    void reportWindows();
    bool waitForRetitle(DWORD timeoutMs);

    std::vector<std::vector<std::string>> commands_;
    std::vector<HWND> windows_;
    std::vector<std::string> initialTitles_;
};
