#include "launcher/CallIntake.h"

#include "localconnection/Trace.h"

#include <new>

namespace {

constexpr DWORD kReceiveJoinMs = 3000;
// Boxes and dialogs run modal loops that let the next call in while they are open, and
// that call may open another. Beyond this many calls under way, a call waits (still
// counted against the listener's bound) until one of them has ended, so that a flood
// of such calls cannot nest without end and run the main thread out of stack.
constexpr int kMaxNestedCalls = 8;

} // namespace

void CallIntake::open(HWND launcherWindow)
{
    listener_ = std::make_unique<CFlashLocalConnection>(kLauncherConnectionName, launcherWindow, kCallMessage);
    listener_->startReceiving();
}

void CallIntake::run(std::unique_ptr<CFlashLocalConnectionCall> call, std::uint32_t bodyLength, HWND gameWindow)
{
    if (call && listener_)
        listener_->callTaken(bodyLength);
    ++callsUnderWay_;
    try {
        if (call)
            lc::traceCall(*call);
        services_.dispatch(call.get(), gameWindow);
    } catch (const std::bad_alloc&) {
        // Out of memory ends this call only; the launcher goes on with the next.
    }
    --callsUnderWay_;
}

void CallIntake::deliver(WPARAM wParam, LPARAM bodyLength, HWND gameWindow)
{
    std::unique_ptr<CFlashLocalConnectionCall> call(reinterpret_cast<CFlashLocalConnectionCall*>(wParam));
    const auto length = static_cast<std::uint32_t>(bodyLength);
    if (callsUnderWay_ >= kMaxNestedCalls) {
        try {
            waiting_.emplace_back(std::move(call), length);
        } catch (const std::bad_alloc&) {
            if (call && listener_)
                listener_->callTaken(length); // dropped: no longer pending
        }
        return;
    }
    run(std::move(call), length, gameWindow);
    // Calls that waited for this level come first, in the order they arrived.
    while (callsUnderWay_ < kMaxNestedCalls && !waiting_.empty()) {
        auto next = std::move(waiting_.front());
        waiting_.pop_front();
        run(std::move(next.first), next.second, gameWindow);
    }
}

void CallIntake::close()
{
    if (!listener_)
        return;
    listener_->requestStop();
    if (listener_->waitForReceiving(kReceiveJoinMs))
        listener_.reset();
    else
        static_cast<void>(listener_.release()); // its thread may still use it until the process ends
}
