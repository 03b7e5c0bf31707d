#include "launcher/CallIntake.h"

#include "localconnection/Trace.h"
#include "reports/ReportNotes.h"
#include "win/ThreadWait.h"

#include <new>

namespace {

// The receive thread never waits on anything but its stop request or the mutex (which
// the stop request interrupts), and never shows a box itself: it ends within a pass.
// The wait is bounded all the same, so that a thread that somehow does not end can
// never hold the launcher's exit.
constexpr DWORD kReceiveJoinMs = 5000;

static_assert(CallIntake::kMaxNestedCalls <= notes::kNotedCalls, "a report describes every call under way");

} // namespace

void CallIntake::open(HWND launcherWindow)
{
    listener_ = std::make_unique<CFlashLocalConnection>(kLauncherConnectionName, launcherWindow, kCallMessage);
    services_.serveFor(listener_.get());
    listener_->startReceiving();
}

void CallIntake::run(std::unique_ptr<CFlashLocalConnectionCall> call, HWND gameWindow)
{
    ++callsUnderWay_;
    const notes::CallUnderWay note(call->getMethodName());
    try {
        lc::traceCall(*call);
        services_.dispatch(call.get(), gameWindow);
    } catch (const std::bad_alloc&) {
        // Out of memory ends this call only; the launcher goes on with the next.
    }
    --callsUnderWay_;
}

void CallIntake::deliver(WPARAM posted, HWND gameWindow)
{
    if (!listener_ || !listener_->holdsPosted(posted))
        return;
    ++owed_;
    // Taken by a modal loop of the system's below a wait (a dialog moved while a download
    // is waited for): the call under way is not over, and answers keep the calls' order.
    // The loop of the call under way runs this one once that call has ended.
    if (win::ThreadWait::servingNow())
        return;
    // A call that waited for a level comes first: the oldest record runs.
    while (owed_ > 0 && callsUnderWay_ < kMaxNestedCalls && !services_.hasEnded()) {
        --owed_;
        std::unique_ptr<CFlashLocalConnectionCall> call = listener_->takeOldestPosted();
        if (!call)
            break;
        run(std::move(call), gameWindow);
    }
}

void CallIntake::dropWaitingCalls()
{
    if (!listener_)
        return;
    listener_->requestStop();
    while (listener_->takeOldestPosted()) {
    }
    owed_ = 0;
}

void CallIntake::close()
{
    if (!listener_)
        return;
    // The window's thread waits serving its messages, as everywhere once the window exists.
    const bool ended = listener_->stopReceiving(kReceiveJoinMs, services_.threadWait());
    services_.serveFor(nullptr);
    if (ended)
        listener_.reset();
    else
        static_cast<void>(listener_.release()); // its thread may still use it until the process ends
}
