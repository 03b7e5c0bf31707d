#include "win/ThreadWait.h"

#include <climits>

namespace win {

namespace {

// Serving waits under way on this thread (they nest: a wait serves a message whose
// handler waits).
thread_local int t_servingWaits = 0;

bool isDialog(HWND window)
{
    wchar_t name[8] = {};
    return window && GetClassNameW(window, name, ARRAYSIZE(name)) && lstrcmpW(name, L"#32770") == 0;
}

// Takes and dispatches the queued messages but `held` (the peeks deliver sent messages
// themselves), until the queue has nothing else or a WM_QUIT comes.
void serveQueue(UINT held, bool& quit, WPARAM& quitCode)
{
    MSG msg;
    // The wide forms: a dialog's typed text stays whole, whatever the code page.
    while (PeekMessageW(&msg, nullptr, 0, held - 1, PM_REMOVE) ||
           PeekMessageW(&msg, nullptr, held + 1, UINT_MAX, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quit = true;
            quitCode = msg.wParam;
            return;
        }
        // A box or dialog open below this wait keeps its keyboard navigation.
        const HWND root = GetAncestor(msg.hwnd, GA_ROOT);
        if (isDialog(root) && IsDialogMessageW(root, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

} // namespace

bool ThreadWait::servingNow()
{
    return t_servingWaits > 0;
}

ThreadWait ThreadWait::servingAllBut(UINT held)
{
    ThreadWait wait;
    wait.serving_ = true;
    wait.held_ = held;
    return wait;
}

DWORD ThreadWait::forAny(std::initializer_list<HANDLE> handles, DWORD ms) const
{
    HANDLE objects[MAXIMUM_WAIT_OBJECTS - 1];
    DWORD places[MAXIMUM_WAIT_OBJECTS - 1];
    DWORD count = 0;
    DWORD place = 0;
    for (HANDLE handle : handles) {
        if (handle && count < MAXIMUM_WAIT_OBJECTS - 1) {
            objects[count] = handle;
            places[count++] = place;
        }
        ++place;
    }
    const auto inPlace = [&](DWORD result) -> DWORD {
        if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + count)
            return WAIT_OBJECT_0 + places[result - WAIT_OBJECT_0];
        if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count)
            return WAIT_ABANDONED_0 + places[result - WAIT_ABANDONED_0];
        return result;
    };
    if (!serving_) {
        if (count == 0) {
            Sleep(ms);
            return WAIT_TIMEOUT;
        }
        return inPlace(WaitForMultipleObjects(count, objects, FALSE, ms));
    }

    const ULONGLONG deadline = ms == INFINITE ? ULLONG_MAX : GetTickCount64() + ms;
    struct Serving {
        Serving() { ++t_servingWaits; }
        ~Serving() { --t_servingWaits; }
        Serving(const Serving&) = delete;
        Serving& operator=(const Serving&) = delete;
    } const serving;
    bool quit = false;
    WPARAM quitCode = 0;
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
        MSG msg;
        if (quit)
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        else
            serveQueue(held_, quit, quitCode);
        const ULONGLONG now = GetTickCount64();
        const DWORD left = ms == INFINITE ? INFINITE : now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        // Wakes for what came since the queue was last looked at: the held message,
        // looked at and left, does not wake it again.
        result = MsgWaitForMultipleObjectsEx(count, objects, left, quit ? QS_SENDMESSAGE : QS_ALLINPUT, 0);
        if (result != WAIT_OBJECT_0 + count)
            break;
        if (left == 0) {
            result = WAIT_TIMEOUT;
            break;
        }
    }
    if (quit)
        PostQuitMessage(static_cast<int>(quitCode));
    return inPlace(result);
}

} // namespace win
