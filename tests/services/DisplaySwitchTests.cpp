// The display switch in this process against a stand-in desktop of two monitors that, as
// Windows 8 and later do for the launcher, refuses every depth below 32 bits: which
// device each call names, and what each of the launcher's ends puts back.
#include "services/LauncherServices.h"

#include "display/DisplayRestoreOnCrash.h"

#include "FlashPlayerPeer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr char kReply[] = "tovin.test.reply";

// The first is the primary; the game's made-up window N + 1 is on monitor N.
struct Monitor {
    const wchar_t* device;
    DWORD width, height, depth, rate;
};
Monitor g_monitors[2];
std::vector<std::string> g_calls; // each enum and change, with the device it named

Monitor* named(LPCWSTR device)
{
    for (Monitor& monitor : g_monitors) {
        if (!device || std::wstring(device) == monitor.device)
            return &monitor;
    }
    return nullptr;
}

std::string text(LPCWSTR device)
{
    return device ? std::string(device, device + wcslen(device)) : "(default)";
}

HMONITOR WINAPI monitorFromWindow(HWND window, DWORD flags)
{
    const INT_PTR index = reinterpret_cast<INT_PTR>(window) - 1;
    return flags == MONITOR_DEFAULTTONEAREST && index >= 0 && index < 2 ? reinterpret_cast<HMONITOR>(&g_monitors[index])
                                                                        : nullptr;
}

BOOL WINAPI getMonitorInfo(HMONITOR monitor, MONITORINFO* info)
{
    if (info->cbSize != sizeof(MONITORINFOEXW))
        return FALSE;
    wcscpy(static_cast<MONITORINFOEXW*>(info)->szDevice, reinterpret_cast<Monitor*>(monitor)->device);
    return TRUE;
}

BOOL WINAPI enumDisplaySettingsEx(LPCWSTR device, DWORD which, DEVMODEW* mode, DWORD)
{
    g_calls.push_back("enum " + text(device));
    const Monitor* monitor = named(device);
    if (!monitor || which != ENUM_CURRENT_SETTINGS || mode->dmSize != sizeof(DEVMODEW))
        return FALSE;
    mode->dmPelsWidth = monitor->width;
    mode->dmPelsHeight = monitor->height;
    mode->dmBitsPerPel = monitor->depth;
    mode->dmDisplayFrequency = monitor->rate;
    return TRUE;
}

// Any size up to 4096 x 4096, at 32 bits only; the rate only when its field is set.
LONG WINAPI changeDisplaySettingsEx(LPCWSTR device, DEVMODEW* mode, HWND, DWORD flags, void*)
{
    const bool rate = mode->dmFields & DM_DISPLAYFREQUENCY;
    g_calls.push_back("change " + text(device) + " " + std::to_string(mode->dmPelsWidth) + "x" +
                      std::to_string(mode->dmPelsHeight) + "x" + std::to_string(mode->dmBitsPerPel) +
                      (rate ? "@" + std::to_string(mode->dmDisplayFrequency) : ""));
    Monitor* monitor = named(device);
    if (!monitor || flags != 0 || mode->dmPelsWidth > 4096 || mode->dmPelsHeight > 4096 || mode->dmBitsPerPel < 32)
        return DISP_CHANGE_BADMODE;
    *monitor = {monitor->device, mode->dmPelsWidth, mode->dmPelsHeight, mode->dmBitsPerPel,
                rate ? mode->dmDisplayFrequency : monitor->rate};
    return DISP_CHANGE_SUCCESSFUL;
}

const DisplayCalls kStandInCalls = {monitorFromWindow, getMonitorInfo, enumDisplaySettingsEx, changeDisplaySettingsEx};

std::unique_ptr<CFlashLocalConnectionCall> callWith(const char* method, std::vector<double> numbers)
{
    auto call = std::make_unique<CFlashLocalConnectionCall>(method);
    call->addArgument(std::make_unique<CFlashAMFString>(kReply), false);
    for (double number : numbers)
        call->addArgument(std::make_unique<CFlashAMFNumber>(number), false);
    return call;
}

// One of the launcher's ends, as it reaches the services (the game's end calls
// RestoreDisplayMode, as ScreenResolutionDisable does).
struct End {
    const char* name;
    void (*end)(CLauncherServices&);
};
void PrintTo(const End& end, std::ostream* out)
{
    *out << end.name;
}

using Calls = std::vector<std::string>;
using Answer = std::pair<std::string, Calls>; // the answer's method and the calls made

class DisplaySwitch : public ::testing::TestWithParam<End> {
protected:
    void SetUp() override
    {
        g_calls.clear();
        g_monitors[0] = {L"\\\\.\\DISPLAY1", 1280, 1024, 32, 75};
        g_monitors[1] = {L"\\\\.\\DISPLAY2", 1920, 1080, 32, 60};
        services_.setDisplayCalls(kStandInCalls);
        peer_.registerName(kReply);
    }

    // Asks for the mode with the game's window on `monitor`.
    Answer enable(int monitor, double width, double height, double depth)
    {
        services_.dispatch(callWith("ScreenResolutionEnable", {width, height, depth}).get(),
                           reinterpret_cast<HWND>(static_cast<INT_PTR>(monitor + 1)));
        ReceivedMessage answer;
        const bool answered = peer_.receive(kReply, 5000, answer) && answer.call;
        return {answered ? answer.call->getMethodName() : "no answer", std::exchange(g_calls, {})};
    }

    FlashPlayerPeer peer_;
    CLauncherServices services_;
};

TEST_P(DisplaySwitch, SwitchesTheGamesMonitorAsksAt32BitsAndPutsEveryMonitorBack)
{
    // On the second monitor: 16 bits refused, asked at 32 once, answered by that.
    EXPECT_EQ(enable(1, 800, 600, 16),
              Answer("onScreenResolutionSuccess",
                     Calls{"enum \\\\.\\DISPLAY2", "enum \\\\.\\DISPLAY2", "change \\\\.\\DISPLAY2 800x600x16",
                           "change \\\\.\\DISPLAY2 800x600x32"}));
    EXPECT_EQ(enable(1, 12345, 7, 16),
              Answer("onScreenResolutionError", Calls{"enum \\\\.\\DISPLAY2", "change \\\\.\\DISPLAY2 12345x7x16",
                                                      "change \\\\.\\DISPLAY2 12345x7x32"}));
    // The window moved to the first monitor: that one is switched, and its mode saved.
    EXPECT_EQ(enable(0, 640, 480, 32),
              Answer("onScreenResolutionSuccess",
                     Calls{"enum \\\\.\\DISPLAY1", "enum \\\\.\\DISPLAY1", "change \\\\.\\DISPLAY1 640x480x32"}));

    GetParam().end(services_);
    EXPECT_EQ(std::exchange(g_calls, {}),
              (Calls{"change \\\\.\\DISPLAY2 1920x1080x32@60", "change \\\\.\\DISPLAY1 1280x1024x32@75"}));
}

INSTANTIATE_TEST_SUITE_P(Ends, DisplaySwitch,
                         ::testing::Values(End{"disable",
                                               [](CLauncherServices& services) {
                                                   services.dispatch(callWith("ScreenResolutionDisable", {}).get(),
                                                                     nullptr);
                                               }},
                                           End{"sessionEnd",
                                               [](CLauncherServices& services) { services.endSession(); }},
                                           End{"crash", [](CLauncherServices&) { restoreDisplayModeAfterCrash(); }}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
