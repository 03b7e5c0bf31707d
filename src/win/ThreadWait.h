// How a thread waits for kernel objects. Other programs send messages to every
// top-level window and wait for the answer (broadcasts, the log-off), and the boxes and
// dialogs a thread has open paint and take input only through its queue: a thread that
// owns windows and waits deaf holds them all. So, once its window exists, the launcher's
// main thread waits only through a ThreadWait that serves every message but one, the
// call message, which stays queued so that calls still run one at a time, in order.
#pragma once

#include <windows.h>

#include <initializer_list>

namespace win {

class ThreadWait {
public:
    // A plain wait that serves nothing: for threads without windows, and tools.
    ThreadWait() = default;
    // Serves sent messages and every queued message but `held`.
    static ThreadWait servingAllBut(UINT held);

    // Waits until one of `handles` is signalled or `ms` have passed, with the results of
    // WaitForMultipleObjects for one object: WAIT_OBJECT_0 + i or WAIT_ABANDONED_0 + i for
    // the i-th handle, WAIT_TIMEOUT or WAIT_FAILED. Null handles are skipped and keep
    // their places; with none left this is a pause. A WM_QUIT met on the way is not
    // taken for the wait's end: from then on only sent messages are served (the quit
    // means the loop above is to end, and it gets the quit back once the wait is over).
    DWORD forAny(std::initializer_list<HANDLE> handles, DWORD ms) const;
    DWORD forOne(HANDLE handle, DWORD ms) const { return forAny({handle}, ms); }
    // A pause of `ms`, serving as the wait does.
    void pause(DWORD ms) const { forAny({}, ms); }

    bool serves() const { return serving_; }
    // True while a serving wait runs on this thread. What it serves may start a modal
    // loop of the system's (a window moved, a menu opened) that takes every message, the
    // held one too: whoever handles that message can ask this.
    static bool servingNow();

private:
    bool serving_ = false;
    UINT held_ = 0;
};

} // namespace win
