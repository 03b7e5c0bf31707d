// The launcher's entry point: starts the game, retitles its window and serves it
// from a hidden window's message loop until the game process has ended.
#include <windows.h>

#include "launcher/BilingualStrings.h"
#include "launcher/CallIntake.h"
#include "services/DisplayRestoreOnCrash.h"

namespace {

constexpr char kWindowClassName[] = "TovinKorbaLauncher";
constexpr char kGameWindowTitle[] = "Tovin  ";
constexpr DWORD kInputIdleWaitMs = 5000;
constexpr DWORD kFinalGameWaitMs = 1000;
constexpr UINT_PTR kWatchTimerId = 1;
constexpr UINT kWatchPeriodMs = 50;
constexpr int kExitCode = 1;

HINSTANCE g_instance = nullptr;
PROCESS_INFORMATION g_game = {};
HWND g_gameWindow = nullptr;

BOOL CALLBACK findGameWindow(HWND window, LPARAM processId)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != static_cast<DWORD>(processId))
        return TRUE;
    g_gameWindow = window;
    return FALSE;
}

// A game that exits with code 259 reads as STILL_ACTIVE, so the handle's state decides too.
bool gameHasEnded()
{
    DWORD code = 0;
    if (!GetExitCodeProcess(g_game.hProcess, &code))
        return false;
    return code != STILL_ACTIVE || WaitForSingleObject(g_game.hProcess, 0) == WAIT_OBJECT_0;
}

LRESULT CALLBACK launcherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_TIMER:
        if (gameHasEnded())
            PostQuitMessage(0);
        return 0;
    case kCallMessage:
        deliverCall(wParam, lParam, g_gameWindow);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    installDisplayRestoreOnCrash();
    g_instance = instance;
    setStringModule(instance);
    g_game.hProcess = nullptr;
    g_game.hThread = nullptr;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;

    char commandLine[] = "tovin.dll";
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE,
                        nullptr, nullptr, &startup, &g_game)) {
        ShowLaunchError();
        return kExitCode;
    }
    WaitForInputIdle(g_game.hProcess, kInputIdleWaitMs);

    EnumWindows(findGameWindow, static_cast<LPARAM>(g_game.dwProcessId));
    if (!g_gameWindow)
        return kExitCode;
    SetWindowTextA(g_gameWindow, kGameWindowTitle);

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = launcherWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClassName;
    if (!RegisterClassExA(&windowClass)) {
        ShowLaunchError();
        return kExitCode;
    }
    HWND launcherWindow = CreateWindowExA(0, kWindowClassName, nullptr, 0, 0, 0, 0, 0, nullptr,
                                          nullptr, instance, nullptr);
    if (!launcherWindow) {
        ShowLaunchError();
        return kExitCode;
    }

    openCallIntake(launcherWindow);
    SetTimer(launcherWindow, kWatchTimerId, kWatchPeriodMs, nullptr);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }

    WaitForSingleObject(g_game.hProcess, kFinalGameWaitMs);
    closeCallIntake();
    return kExitCode;
}
