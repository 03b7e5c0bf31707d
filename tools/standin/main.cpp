// The stand-in game: a small Win32 program, installed as tovin.dll beside the launcher,
// that plays the game for the tests and the demo. It owns its top-level windows from
// the start (TOVIN_WINDOWS: 0, 1 or 2) and runs the scenario in TOVIN_SCENARIO, one
// command per line or per ';', on a worker thread while its main thread pumps messages.
// The scenario is UTF-8, read from the environment in UTF-16.
#include <windows.h>

#include "Scenario.h"
#include "Transcript.h"
#include "win/WideText.h"

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

LRESULT CALLBACK gameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE)
        return 0; // the game decides when it ends, not the user
    return DefWindowProcW(window, message, wParam, lParam);
}

std::vector<HWND> createWindows(HINSTANCE instance, int count)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = gameWindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"TovinStandInGame";
    RegisterClassW(&windowClass);
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
    const char* windowsSetting = std::getenv("TOVIN_WINDOWS");
    const int windowCount = windowsSetting ? std::atoi(windowsSetting) : 1;
    const std::vector<HWND> windows = createWindows(instance, windowCount);

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
