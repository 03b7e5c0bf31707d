#include "launcher/Launcher.h"
#include "resources/Texts.h"

#include "launcher/BilingualStrings.h"
#include "win/WideText.h"

namespace {

constexpr DWORD kInputIdleWaitMs = 5000;
// A game may show its window a moment after it is input-idle (behind a splash, or once
// its first frame is ready): it is looked for this long more, as long as the input-idle
// wait, and every so often within it.
constexpr DWORD kGameWindowWaitMs = 5000;
constexpr DWORD kGameWindowLookMs = 50;
constexpr DWORD kFinalGameWaitMs = 1000;
constexpr UINT_PTR kGameEndTimerId = 1;
// The wait on the game's process tells of its end at once; the timer backs it up (a
// notice can be lost to a full message queue) or, without the wait, is how the end is seen.
constexpr UINT kGameEndPollMs = 50;
constexpr UINT kBackupPeriodMs = 500;
constexpr UINT kGameEndedMessage = WM_APP + 401; // carries nothing: the handler asks the process
constexpr int kExitCode = 1;

} // namespace

// On a thread of the pool: the services' waits end at once, and the window is told.
VOID CALLBACK Launcher::noticeGameEnd(PVOID launcher, BOOLEAN)
{
    auto* self = static_cast<Launcher*>(launcher);
    self->services_.markEnded();
    PostMessageA(self->window_, kGameEndedMessage, 0, 0);
}

// The game's window is the one the player sees: its first visible top-level window that
// no other window owns (not a hidden helper, a splash or the input method's window).
BOOL CALLBACK Launcher::findGameWindow(HWND window, LPARAM launcher)
{
    auto* self = reinterpret_cast<Launcher*>(launcher);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != self->gameProcessId_ || !IsWindowVisible(window) || GetWindow(window, GW_OWNER))
        return TRUE;
    self->gameWindow_ = window;
    return FALSE;
}

LRESULT CALLBACK Launcher::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* self = reinterpret_cast<Launcher*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return self ? self->handle(window, message, wParam, lParam) : DefWindowProcW(window, message, wParam, lParam);
}

LRESULT Launcher::handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_TIMER:
    case kGameEndedMessage:
        // Both reach the modal loop of a box or dialog too, which the quit closes. Anyone
        // may post the notice: only the game's process says whether it has ended.
        if (services_.hasEnded()) {
            services_.markEnded();
            services_.RestoreDisplayMode();
            PostQuitMessage(0);
        }
        return 0;
    case WM_QUERYENDSESSION:
        // Never in the log-off's way. Nothing is given up yet: another program may still
        // cancel it.
        return TRUE;
    case WM_ENDSESSION:
        // wParam FALSE: the log-off was cancelled, and everything goes on. TRUE: the
        // process may be ended as soon as this returns, so all is put right first.
        if (wParam) {
            services_.endSession();
            intake_.dropWaitingCalls();
            PostQuitMessage(0);
        }
        return 0;
    case kCallMessage:
        intake_.deliver(wParam, gameWindow_);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

// The thread has no window yet, but waits as it will once it has one; the game's end
// ends the wait at once.
bool Launcher::waitForGameWindow()
{
    const win::ThreadWait wait = win::ThreadWait::servingAllBut(kCallMessage);
    const ULONGLONG deadline = GetTickCount64() + kGameWindowWaitMs;
    for (;;) {
        EnumWindows(findGameWindow, reinterpret_cast<LPARAM>(this));
        if (gameWindow_)
            return true;
        if (GetTickCount64() >= deadline || wait.forOne(gameProcess_.get(), kGameWindowLookMs) != WAIT_TIMEOUT)
            return false;
    }
}

int Launcher::run()
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION game = {};
    wchar_t commandLine[] = L"tovin.dll";
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr,
                        &startup, &game)) {
        ShowLaunchError();
        return kExitCode;
    }
    gameProcess_ = UniqueHandle(game.hProcess);
    gameThread_ = UniqueHandle(game.hThread);
    gameProcessId_ = game.dwProcessId;
    services_.workFor(gameProcess_.get());
    WaitForInputIdle(gameProcess_.get(), kInputIdleWaitMs);

    if (!waitForGameWindow())
        return kExitCode;
    SetWindowTextW(gameWindow_, win::widen(texts::kGameWindowTitle).c_str());

    const std::wstring className = win::widen(kWindowClassName);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance_;
    windowClass.lpszClassName = className.c_str();
    if (!RegisterClassExW(&windowClass)) {
        ShowLaunchError();
        return kExitCode;
    }
    window_ = CreateWindowExW(0, className.c_str(), nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, instance_, this);
    if (!window_) {
        ShowLaunchError();
        return kExitCode;
    }

    watchdog_.start(window_);
    intake_.open(window_);
    HANDLE wait = nullptr;
    if (RegisterWaitForSingleObject(&wait, gameProcess_.get(), noticeGameEnd, this, INFINITE, WT_EXECUTEONLYONCE))
        gameEndWait_.reset(wait);
    SetTimer(window_, kGameEndTimerId, gameEndWait_ ? kBackupPeriodMs : kGameEndPollMs, nullptr);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    watchdog_.stop(services_.threadWait());

    // At the session's end the game is still running, and the launcher ends at once.
    if (!services_.sessionEnded())
        services_.threadWait().forOne(gameProcess_.get(), kFinalGameWaitMs);
    intake_.close();
    return kExitCode;
}
