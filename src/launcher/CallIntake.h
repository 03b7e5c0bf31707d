// The main thread's side of receiving the game's calls: the launcher's listening
// connection on the hidden window, and the hand-over of each call to the dispatch.
#pragma once

#include "localconnection/FlashLocalConnection.h"
#include "services/LauncherServices.h"

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <utility>

constexpr UINT kCallMessage = WM_APP + 400; // 0x8190; wParam holds the call record
constexpr char kLauncherConnectionName[] = "__qel.external.connector__";

class CallIntake {
public:
    explicit CallIntake(CLauncherServices& services) : services_(services) {}
    ~CallIntake() { close(); }
    CallIntake(const CallIntake&) = delete;
    CallIntake& operator=(const CallIntake&) = delete;

    // Starts listening: the receive thread posts each call to the window.
    void open(HWND launcherWindow);
    // Tells the listener that the record wParam carries (whose body length lParam carries)
    // is taken, dispatches it, then destroys it.
    void deliver(WPARAM wParam, LPARAM bodyLength, HWND gameWindow);
    // Stops the receive thread and frees the listener; one still running after the
    // wait (its box is open) keeps the listener until the process ends.
    void close();

private:
    void run(std::unique_ptr<CFlashLocalConnectionCall> call, std::uint32_t bodyLength, HWND gameWindow);

    CLauncherServices& services_;
    std::unique_ptr<CFlashLocalConnection> listener_;
    int callsUnderWay_ = 0;
    // Calls that came while the most calls were under way, with their body lengths.
    std::deque<std::pair<std::unique_ptr<CFlashLocalConnectionCall>, std::uint32_t>> waiting_;
};
