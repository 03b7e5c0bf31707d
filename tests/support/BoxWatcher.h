// Watches for message boxes (#32770 dialogs without edit fields) of one process,
// records their caption, text and icon, and presses their OK button.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct SeenBox {
    std::string caption;
    std::string text;
    bool hasIcon = false;
    HWND owner = nullptr;
};

class BoxWatcher {
public:
    // processId 0 watches the test program itself.
    explicit BoxWatcher(DWORD processId = 0, bool dismiss = true);
    ~BoxWatcher();
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;

    std::vector<SeenBox> boxes() const;
    // Waits until at least `count` boxes have been seen.
    bool waitForCount(std::size_t count, DWORD timeoutMs) const;
    // Presses OK on every dialog of the process open right now: what a watcher made
    // with dismiss off has left open.
    void dismissAll();

private:
    void poll();

    DWORD processId_;
    bool dismiss_;
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    mutable std::condition_variable seen_; // a box was added
    std::vector<SeenBox> boxes_;
    std::set<HWND> handled_;
    std::thread thread_;
};

// Text (in UTF-8) and controls of any window, for the dialog tests.
std::string windowText(HWND window);
std::string windowClass(HWND window);
std::vector<HWND> childWindows(HWND parent);
std::vector<HWND> topLevelDialogs(DWORD processId);
