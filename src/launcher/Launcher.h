// The launcher's whole state, owned by the entry point: the game it started, the game's
// window, the services with their saved display mode, and the call intake. The hidden
// window reaches it through its creation parameter (GWLP_USERDATA).
#pragma once

#include "launcher/CallIntake.h"
#include "reports/Watchdog.h"
#include "services/LauncherServices.h"
#include "win/WinHandles.h"

#include <windows.h>

// The hidden window's class: other programs may look for the launcher's window by it.
constexpr char kWindowClassName[] = "TovinKorbaLauncher";

class Launcher {
public:
    explicit Launcher(HINSTANCE instance) : instance_(instance) {}
    // The hidden window holds this object's address.
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    // Starts the game, serves it until it has ended, and returns the exit code.
    int run();
    // Puts back a display mode that a switch changed.
    void restoreDisplayMode() { services_.RestoreDisplayMode(); }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static BOOL CALLBACK findGameWindow(HWND window, LPARAM launcher);
    static VOID CALLBACK noticeGameEnd(PVOID launcher, BOOLEAN);
    LRESULT handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // After input-idle: false when the game shows no window in time, or ends first.
    bool waitForGameWindow();

    HINSTANCE instance_;
    DWORD gameProcessId_ = 0;
    UniqueHandle gameProcess_;
    UniqueHandle gameThread_;
    HWND gameWindow_ = nullptr;
    HWND window_ = nullptr;
    // Declared before the intake, which uses them, so that they outlive it.
    CLauncherServices services_;
    CallIntake intake_{services_};
    // From the window's creation until the message loop ends.
    Watchdog watchdog_;
    // Tells the services and the window of the game's end: let go first, before what its
    // callback uses.
    UniqueWait gameEndWait_;
};
