#include "launcher/CallIntake.h"

#include "localconnection/FlashLocalConnection.h"
#include "services/LauncherServices.h"

#include <memory>

namespace {

constexpr DWORD kReceiveJoinMs = 3000;

std::unique_ptr<CFlashLocalConnection> g_listener;

} // namespace

void openCallIntake(HWND launcherWindow)
{
    g_listener = std::make_unique<CFlashLocalConnection>(kLauncherConnectionName, launcherWindow, kCallMessage);
    g_listener->startReceiving();
}

void deliverCall(WPARAM wParam, HWND gameWindow)
{
    std::unique_ptr<CFlashLocalConnectionCall> call(reinterpret_cast<CFlashLocalConnectionCall*>(wParam));
    launcherServices().dispatch(call.get(), gameWindow);
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
