#include "Scenario.h"

#include "Transcript.h"

#include <cstdlib>
#include <sstream>

namespace {

std::string windowTitle(HWND window)
{
    char title[512] = {};
    GetWindowTextA(window, title, sizeof title);
    return title;
}

std::vector<std::string> splitWords(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

struct FirstOfProcess {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK firstWindowOfProcess(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<FirstOfProcess*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId)
        return TRUE;
    search->found = window;
    return FALSE;
}

} // namespace

Scenario::Scenario(const std::string& script, std::vector<HWND> windows)
    : windows_(std::move(windows))
{
    std::string line;
    for (char c : script + "\n") {
        if (c == '\n' || c == ';') {
            auto words = splitWords(line);
            if (!words.empty() && words[0][0] != '#')
                commands_.push_back(std::move(words));
            line.clear();
        } else if (c != '\r') {
            line += c;
        }
    }
    for (HWND window : windows_)
        initialTitles_.push_back(windowTitle(window));
}

int Scenario::run()
{
    int exitCode = 0;
    for (const auto& words : commands_) {
        if (!runCommand(words, exitCode))
            break;
    }
    transcriptLine("end " + std::to_string(exitCode));
    return exitCode;
}

bool Scenario::runCommand(const std::vector<std::string>& words, int& exitCode)
{
    const std::string& name = words[0];
    const auto number = [&](std::size_t i, long fallback) {
        return words.size() > i ? std::strtol(words[i].c_str(), nullptr, 0) : fallback;
    };
    if (name == "pid") {
        transcriptLine("pid " + std::to_string(GetCurrentProcessId()));
    } else if (name == "sleep") {
        Sleep(static_cast<DWORD>(number(1, 0)));
    } else if (name == "wait-title") {
        transcriptLine(waitForRetitle(static_cast<DWORD>(number(1, 20000))) ? "retitled" : "not retitled");
    } else if (name == "report-windows") {
        reportWindows();
    } else if (name == "exit") {
        exitCode = static_cast<int>(number(1, 0));
        return false;
    } else {
        transcriptLine("unknown command " + name);
    }
    return true;
}

void Scenario::reportWindows()
{
    FirstOfProcess search{GetCurrentProcessId(), nullptr};
    EnumWindows(firstWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    for (std::size_t i = 0; i < windows_.size(); ++i) {
        transcriptLine("window " + std::to_string(i + 1) + " title=[" + windowTitle(windows_[i]) + "]" +
                       (windows_[i] == search.found ? " first" : ""));
    }
}

bool Scenario::waitForRetitle(DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        for (std::size_t i = 0; i < windows_.size(); ++i) {
            if (windowTitle(windows_[i]) != initialTitles_[i])
                return true;
        }
        Sleep(20);
    } while (GetTickCount64() < deadline);
    return false;
}
