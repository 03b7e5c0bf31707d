#include "launcher/CallIntake.h"

#include "localconnection/FlashLocalConnection.h"
#include "services/LauncherServices.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <new>
#include <utility>

namespace {

constexpr DWORD kReceiveJoinMs = 3000;
// Boxes and dialogs run modal loops that let the next call in while they are open, and
// that call may open another. Beyond this many calls under way, a call waits (still
// counted against the listener's bound) until one of them has ended, so that a flood
// of such calls cannot nest without end and run the main thread out of stack.
constexpr int kMaxNestedCalls = 8;

std::unique_ptr<CFlashLocalConnection> g_listener;
int g_callsUnderWay = 0;
std::deque<std::pair<std::unique_ptr<CFlashLocalConnectionCall>, std::uint32_t>> g_waiting;

void runCall(std::unique_ptr<CFlashLocalConnectionCall> call, std::uint32_t bodyLength, HWND gameWindow)
{
    if (call && g_listener)
        g_listener->callTaken(bodyLength);
    ++g_callsUnderWay;
    try {
        launcherServices().dispatch(call.get(), gameWindow);
    } catch (const std::bad_alloc&) {
        // Out of memory ends this call only; the launcher goes on with the next.
    }
    --g_callsUnderWay;
}

} // namespace

void openCallIntake(HWND launcherWindow)
{
    g_listener = std::make_unique<CFlashLocalConnection>(kLauncherConnectionName, launcherWindow, kCallMessage);
    g_listener->startReceiving();
}

void deliverCall(WPARAM wParam, LPARAM bodyLength, HWND gameWindow)
{
    std::unique_ptr<CFlashLocalConnectionCall> call(reinterpret_cast<CFlashLocalConnectionCall*>(wParam));
    const auto length = static_cast<std::uint32_t>(bodyLength);
    if (g_callsUnderWay >= kMaxNestedCalls) {
        try {
            g_waiting.emplace_back(std::move(call), length);
        } catch (const std::bad_alloc&) {
            if (call && g_listener)
                g_listener->callTaken(length);  // dropped: no longer pending
        }
        return;
    }
    runCall(std::move(call), length, gameWindow);
    // Calls that waited for this level come first, in the order they arrived.
    while (g_callsUnderWay < kMaxNestedCalls && !g_waiting.empty()) {
        auto next = std::move(g_waiting.front());
        g_waiting.pop_front();
        runCall(std::move(next.first), next.second, gameWindow);
    }
}

void closeCallIntake()
{
    if (!g_listener)
        return;
    g_listener->requestStop();
    if (g_listener->waitForReceiving(kReceiveJoinMs))
        g_listener.reset();
    else
        static_cast<void>(g_listener.release());  // still running (a box is open): it may keep the connector until the process ends
}
