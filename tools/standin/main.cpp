// The stand-in game: a small Win32 program, installed as tovin.dll beside the launcher,
// that plays the game for the tests and the demo. It owns its top-level windows from
// the start (TOVIN_WINDOWS: 0, 1 or 2), or, with TOVIN_WINDOWS=splash, first a hidden
// window and a splash that its main window owns, the main window shown only a second
// after it is input-idle. It runs the scenario in TOVIN_SCENARIO, one command per line
// or per ';', on a worker thread while its main thread pumps messages. The scenario is
// UTF-8, read from the environment in UTF-16.
#include <windows.h>

#include "Scenario.h"
#include "Transcript.h"
#include "win/WideText.h"

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT_PTR kShowTimerId = 1;
constexpr UINT kShowAfterIdleMs = 1000;

LRESULT CALLBACK gameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE)
        return 0; // the game decides when it ends, not the user
    if (message == WM_TIMER && wParam == kShowTimerId) {
        KillTimer(window, kShowTimerId);
        ShowWindow(window, SW_SHOWNORMAL);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The main window (hidden until its timer, which runs once the message loop does), a
// hidden helper and a visible splash owned by the main window, made in that order: the
// splash comes first in the Z order, then the helper.
std::vector<HWND> createSplashWindows(HINSTANCE instance, const wchar_t* className)
{
    HWND main = CreateWindowExW(0, className, L"stand-in game 1", WS_OVERLAPPEDWINDOW, 40, 40, 640, 480, nullptr,
                                nullptr, instance, nullptr);
    HWND helper = CreateWindowExW(0, className, L"stand-in helper", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                  nullptr, instance, nullptr);
    HWND splash = CreateWindowExW(0, className, L"stand-in splash", WS_POPUP | WS_BORDER, 200, 200, 300, 200, main,
                                  nullptr, instance, nullptr);
    ShowWindow(splash, SW_SHOWNORMAL);
    SetTimer(main, kShowTimerId, kShowAfterIdleMs, nullptr);
    return {main, splash, helper};
}

std::vector<HWND> createWindows(HINSTANCE instance, const char* setting)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = gameWindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"TovinStandInGame";
    RegisterClassW(&windowClass);
    if (setting && std::string(setting) == "splash")
        return createSplashWindows(instance, windowClass.lpszClassName);
    const int count = setting ? std::atoi(setting) : 1;
    std::vector<HWND> windows;
    for (int i = 0; i < count; ++i) {
        const std::wstring title = L"stand-in game " + std::to_wstring(i + 1);
        HWND window = CreateWindowExW(0, windowClass.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 40 + 40 * i,
                                      40 + 40 * i, 640, 480, nullptr, nullptr, instance, nullptr);
        ShowWindow(window, SW_SHOWNORMAL);
        windows.push_back(window);
    }
    return windows;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    const std::vector<HWND> windows = createWindows(instance, std::getenv("TOVIN_WINDOWS"));

    Scenario scenario(environmentText(L"TOVIN_SCENARIO"), windows);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // the queue must exist before the worker posts to it
    const DWORD mainThread = GetCurrentThreadId();
    int exitCode = 0;
    std::thread worker([&] {
        exitCode = scenario.run();
        PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
    });

    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    worker.join();
    return exitCode;
}
