#include "launcher/CallIntake.h"

#include "localconnection/FlashLocalConnection.h"
#include "services/LauncherServices.h"

#include <cstdint>
#include <memory>
#include <new>

namespace {

constexpr DWORD kReceiveJoinMs = 3000;

std::unique_ptr<CFlashLocalConnection> g_listener;

} // namespace

void openCallIntake(HWND launcherWindow)
{
    g_listener = std::make_unique<CFlashLocalConnection>(kLauncherConnectionName, launcherWindow, kCallMessage);
    g_listener->startReceiving();
}

void deliverCall(WPARAM wParam, LPARAM bodyLength, HWND gameWindow)
{
    std::unique_ptr<CFlashLocalConnectionCall> call(reinterpret_cast<CFlashLocalConnectionCall*>(wParam));
    if (call && g_listener)
        g_listener->callTaken(static_cast<std::uint32_t>(bodyLength));
    try {
        launcherServices().dispatch(call.get(), gameWindow);
    } catch (const std::bad_alloc&) {
        // Out of memory ends this call only; the launcher goes on with the next.
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
