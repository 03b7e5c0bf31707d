// The display switch in this process against a stand-in desktop of two monitors that, as
// Windows 8 and later do for the launcher, refuses every depth below 32 bits: which
// device each call names, and what each of the launcher's ends puts back.
#include "services/LauncherServices.h"

#include "reports/DisplayRestoreOnCrash.h"

#include "FlashPlayerPeer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr char kReply[] = "tovin.test.reply";

struct Monitor {
    const wchar_t* device;
    DEVMODEW mode;
};

// The made-up window the game shows on the monitor of this index.
HWND windowOn(int monitor)
{
    return reinterpret_cast<HWND>(static_cast<INT_PTR>(0x100 + monitor));
}

struct Desktop {
    Monitor monitors[2];
    std::vector<std::string> calls; // each call, and the device it named

    Desktop()
    {
        const wchar_t* names[] = {L"\\\\.\\DISPLAY1", L"\\\\.\\DISPLAY2"};
        const DWORD sizes[][3] = {{1280, 1024, 75}, {1920, 1080, 60}};
        for (int i = 0; i < 2; ++i) {
            monitors[i] = {names[i], {}};
            monitors[i].mode.dmPelsWidth = sizes[i][0];
            monitors[i].mode.dmPelsHeight = sizes[i][1];
            monitors[i].mode.dmBitsPerPel = 32;
            monitors[i].mode.dmDisplayFrequency = sizes[i][2];
        }
    }
    // Null names the primary, the first.
    Monitor* named(LPCWSTR device)
    {
        for (Monitor& monitor : monitors) {
            if (!device || std::wstring(device) == monitor.device)
                return &monitor;
        }
        return nullptr;
    }
    static std::string text(LPCWSTR device) { return device ? std::string(device, device + wcslen(device)) : "(none)"; }
};
Desktop g_desktop;

HMONITOR WINAPI monitorFromWindow(HWND window, DWORD flags)
{
    if (flags != MONITOR_DEFAULTTONEAREST)
        return nullptr;
    for (int i = 0; i < 2; ++i) {
        if (window == windowOn(i))
            return reinterpret_cast<HMONITOR>(&g_desktop.monitors[i]);
    }
    return nullptr;
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
    g_desktop.calls.push_back("enum " + Desktop::text(device));
    Monitor* monitor = g_desktop.named(device);
    if (!monitor || which != ENUM_CURRENT_SETTINGS || mode->dmSize != sizeof(DEVMODEW))
        return FALSE;
    mode->dmPelsWidth = monitor->mode.dmPelsWidth;
    mode->dmPelsHeight = monitor->mode.dmPelsHeight;
    mode->dmBitsPerPel = monitor->mode.dmBitsPerPel;
    mode->dmDisplayFrequency = monitor->mode.dmDisplayFrequency;
    return TRUE;
}

// Takes 640x480, 800x600 and each monitor's own size, at 32 bits only; a rate only when asked.
LONG WINAPI changeDisplaySettingsEx(LPCWSTR device, DEVMODEW* mode, HWND, DWORD flags, void*)
{
    std::string call = "change " + Desktop::text(device) + " " + std::to_string(mode->dmPelsWidth) + "x" +
                       std::to_string(mode->dmPelsHeight) + "x" + std::to_string(mode->dmBitsPerPel);
    if (mode->dmFields & DM_DISPLAYFREQUENCY)
        call += "@" + std::to_string(mode->dmDisplayFrequency);
    g_desktop.calls.push_back(call);
    Monitor* monitor = g_desktop.named(device);
    const bool sizeOffered = (mode->dmPelsWidth == 640 && mode->dmPelsHeight == 480) ||
                             (mode->dmPelsWidth == 800 && mode->dmPelsHeight == 600) ||
                             (mode->dmPelsWidth == 1280 && mode->dmPelsHeight == 1024) ||
                             (mode->dmPelsWidth == 1920 && mode->dmPelsHeight == 1080);
    if (!monitor || flags != 0 || !sizeOffered || mode->dmBitsPerPel < 32)
        return DISP_CHANGE_BADMODE;
    monitor->mode.dmPelsWidth = mode->dmPelsWidth;
    monitor->mode.dmPelsHeight = mode->dmPelsHeight;
    monitor->mode.dmBitsPerPel = mode->dmBitsPerPel;
    if (mode->dmFields & DM_DISPLAYFREQUENCY)
        monitor->mode.dmDisplayFrequency = mode->dmDisplayFrequency;
    return DISP_CHANGE_SUCCESSFUL;
}

const DisplayCalls kStandInCalls = {monitorFromWindow, getMonitorInfo, enumDisplaySettingsEx, changeDisplaySettingsEx};

// One of the launcher's ends, as it reaches the services.
struct End {
    const char* name;
    void (*end)(CLauncherServices&);
};

void PrintTo(const End& end, std::ostream* out)
{
    *out << end.name;
}

class DisplaySwitch : public ::testing::TestWithParam<End> {
protected:
    void SetUp() override
    {
        g_desktop = Desktop();
        services_.setDisplayCalls(kStandInCalls);
        peer_.registerName(kReply);
    }

    // Asks for the mode with the game's window on `monitor`; the answer's method.
    std::string enable(int monitor, double width, double height, double depth)
    {
        CFlashLocalConnectionCall call("ScreenResolutionEnable");
        call.addArgument(std::make_unique<CFlashAMFString>(kReply), false);
        for (double value : {width, height, depth})
            call.addArgument(std::make_unique<CFlashAMFNumber>(value), false);
        services_.dispatch(&call, windowOn(monitor));
        ReceivedMessage answer;
        return peer_.receive(kReply, 5000, answer) && answer.call ? answer.call->getMethodName() : "no answer";
    }
    std::vector<std::string> takeCalls() { return std::exchange(g_desktop.calls, {}); }

    FlashPlayerPeer peer_;
    CLauncherServices services_;
};

TEST_P(DisplaySwitch, SwitchesTheGamesMonitorAsksAt32BitsAndPutsEveryMonitorBack)
{
    // On the second monitor: 16 bits refused, asked at 32 once, answered by that.
    EXPECT_EQ(enable(1, 800, 600, 16), "onScreenResolutionSuccess");
    EXPECT_EQ(takeCalls(),
              (std::vector<std::string>{"enum \\\\.\\DISPLAY2", "enum \\\\.\\DISPLAY2",
                                        "change \\\\.\\DISPLAY2 800x600x16", "change \\\\.\\DISPLAY2 800x600x32"}));
    EXPECT_EQ(enable(1, 12345, 7, 16), "onScreenResolutionError");
    EXPECT_EQ(takeCalls(), (std::vector<std::string>{"enum \\\\.\\DISPLAY2", "change \\\\.\\DISPLAY2 12345x7x16",
                                                     "change \\\\.\\DISPLAY2 12345x7x32"}));
    // The window moved to the first monitor: that one is switched, and its mode saved.
    EXPECT_EQ(enable(0, 640, 480, 32), "onScreenResolutionSuccess");
    EXPECT_EQ(takeCalls(), (std::vector<std::string>{"enum \\\\.\\DISPLAY1", "enum \\\\.\\DISPLAY1",
                                                     "change \\\\.\\DISPLAY1 640x480x32"}));

    GetParam().end(services_);
    EXPECT_EQ(takeCalls(), (std::vector<std::string>{"change \\\\.\\DISPLAY2 1920x1080x32@60",
                                                     "change \\\\.\\DISPLAY1 1280x1024x32@75"}));
}

INSTANTIATE_TEST_SUITE_P(
    Ends, DisplaySwitch,
    ::testing::Values(End{"disable",
                          [](CLauncherServices& services) {
                              CFlashLocalConnectionCall call("ScreenResolutionDisable");
                              call.addArgument(std::make_unique<CFlashAMFString>(kReply), false);
                              services.dispatch(&call, windowOn(0));
                          }},
                      End{"gameEnd", [](CLauncherServices& services) { services.RestoreDisplayMode(); }},
                      End{"sessionEnd", [](CLauncherServices& services) { services.endSession(); }},
                      End{"crash", [](CLauncherServices&) { restoreDisplayModeAfterCrash(); }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
