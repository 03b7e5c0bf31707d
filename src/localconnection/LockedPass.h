// The one way into the Flash Player's section: open the mutex by name, wait for it,
// open and map the section, do the work, then unmap the view, close the section,
// release the mutex and close it: the reverse of the opening order. Nothing is kept
// between passes. Boxes raised by a pass wait in a BoxQueue until the pass has let go of
// the mutex.
#pragma once

#include "localconnection/BoxQueue.h"
#include "localconnection/SectionLayout.h"
#include "win/ThreadWait.h"
#include "win/WinHandles.h"

namespace lc {

// A Flash Player holds the mutex for one pass, a few milliseconds: a wait this long means
// a holder that is stuck or gone, and the caller does something else for a while.
constexpr DWORD kMutexWaitMs = 5000;

enum class WaitResult { Acquired, Abandoned, TimedOut, Failed, Interrupted };

struct CleanupFailures {
    bool unmap = false;
    bool closeSection = false;
    bool release = false;
    bool closeMutex = false;
};

class LockedPass {
public:
    // Opens the mutex and waits for it. An abandoned wait made this thread the owner:
    // the ownership is given back at once and no pass follows. An `interrupt` object
    // (a stop request, the game's end) ends the wait at once, and wins over a mutex that
    // is free at the same moment: once the end has come, no pass is taken. A thread that
    // owns windows waits with a `wait` that serves them.
    explicit LockedPass(HANDLE interrupt = nullptr, DWORD waitMs = kMutexWaitMs,
                        const win::ThreadWait& wait = win::ThreadWait());
    ~LockedPass() = default; // on an abnormal exit the owners release what is still open
    LockedPass(const LockedPass&) = delete;
    LockedPass& operator=(const LockedPass&) = delete;

    WaitResult waitResult() const { return wait_; }
    // Opens the section and maps all of it; false when no view could be mapped.
    bool map();
    SectionView view() const { return view_; }
    // The checked clean-up, in order; every step runs even after a failed one.
    CleanupFailures close();

private:
    UniqueHandle mutex_;
    MutexOwnership ownership_;
    UniqueHandle section_;
    UniqueView mapping_;
    SectionView view_;
    WaitResult wait_ = WaitResult::Failed;
};

// Who took the pass: each side reports a failed clean-up step with texts of its own.
enum class PassSide { Receive, Send };

// How a pass's clean-up went: the last step that failed. A receive thread ends with its
// value as exit code, which tools and tests read, so the values stay as they are.
enum class CleanupStatus : int {
    Clean = 0,
    UnmapFailed = -2,
    CloseSectionFailed = -3,
    ReleaseFailed = 1,
    CloseMutexFailed = 2,
};

// Queues one report per failed clean-up step, in the steps' order, with the side's
// caption and texts, and returns the status of the last failure.
CleanupStatus reportCleanup(const CleanupFailures& failed, PassSide side, BoxQueue& boxes);

} // namespace lc
