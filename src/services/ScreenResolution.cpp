// ScreenResolutionEnable, ScreenResolutionDisable and the restore of the modes in force
// before the first switch.
#include "resources/Texts.h"
#include "services/LauncherServices.h"

#include "display/DisplayRestoreOnCrash.h"
#include "services/CallArguments.h"
#include "services/DisplayModeField.h"

#include <cstdint>

namespace {

constexpr DWORD kSavedFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY;
constexpr DWORD kRequestedFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT; // the platform picks the rate

// The device of the monitor the game's window is on now, or the nearest one; the default
// device when that cannot be told.
DisplayDevice deviceOf(const DisplayCalls& calls, HWND window)
{
    DisplayDevice device = {};
    const HMONITOR monitor = window ? calls.monitorFromWindow(window, MONITOR_DEFAULTTONEAREST) : nullptr;
    MONITORINFOEXW info = {};
    info.cbSize = sizeof info;
    if (!monitor || !calls.getMonitorInfo(monitor, &info))
        return device;
    for (std::size_t i = 0; i + 1 < device.size() && info.szDevice[i]; ++i)
        device[i] = info.szDevice[i];
    return device;
}

DEVMODEW currentMode(const DisplayCalls& calls, const DisplayDevice& device)
{
    DEVMODEW mode = {};
    mode.dmSize = sizeof mode;
    mode.dmDriverExtra = 0;
    calls.enumDisplaySettingsEx(deviceName(device), ENUM_CURRENT_SETTINGS, &mode, 0);
    return mode;
}

LONG change(const DisplayCalls& calls, const DisplayDevice& device, DEVMODEW mode)
{
    return calls.changeDisplaySettingsEx(deviceName(device), &mode, nullptr, 0, nullptr);
}

bool toModeField(const CFlashAMFObject& value, DWORD& field)
{
    std::uint32_t converted = 0;
    if (value.getType() != kAmfNumber || !toDisplayModeField(value.toNumber(), converted))
        return false;
    field = converted;
    return true;
}

} // namespace

const DisplayCalls& systemDisplayCalls()
{
    static const DisplayCalls calls = {MonitorFromWindow, GetMonitorInfoW, EnumDisplaySettingsExW,
                                       ChangeDisplaySettingsExW};
    return calls;
}

void CLauncherServices::ScreenResolutionEnable(CFlashLocalConnectionCall* call, const std::string& replyName,
                                               HWND gameWindow)
{
    CallArguments arguments(*call);
    const int count = arguments.left();
    if (count != 3) {
        showCountAlert(texts::kCountIncorrect, count);
        return;
    }
    DWORD fields[3];
    for (DWORD& field : fields) {
        if (!toModeField(*arguments.next(), field))
            return;
    }
    const DisplayCalls& calls = *displayCalls_;
    // The game's window may have moved to another monitor since the last switch.
    const DisplayDevice device = deviceOf(calls, gameWindow);
    if (!savedDisplayModes_.find(device)) {
        DEVMODEW saved = currentMode(calls, device);
        saved.dmFields = kSavedFields;
        if (!savedDisplayModes_.keep(device, saved)) {
            sendAnswer(replyName, "onScreenResolutionError"); // a mode it could not put back
            return;
        }
        keepDisplayModeForCrash(calls, savedDisplayModes_);
    }
    const DEVMODEW saved = *savedDisplayModes_.find(device);
    DEVMODEW requested = currentMode(calls, device);
    requested.dmFields = kRequestedFields;
    requested.dmPelsWidth = fields[0];
    requested.dmPelsHeight = fields[1];
    requested.dmBitsPerPel = fields[2];
    LONG result = change(calls, device, requested);
    // What Windows shows a program that does not declare Windows 8: the depth emulated,
    // the display at 32 bits.
    if (result == DISP_CHANGE_BADMODE && depthToAskAgain(requested.dmBitsPerPel) && !hasEnded()) {
        requested.dmBitsPerPel = depthToAskAgain(requested.dmBitsPerPel);
        result = change(calls, device, requested);
    }
    // The switch sends messages to every window, ours too: the session's end may have
    // come in, and put the modes back, before this switch was done.
    if (hasEnded()) {
        change(calls, device, saved);
        return;
    }
    sendAnswer(replyName, result == DISP_CHANGE_SUCCESSFUL ? "onScreenResolutionSuccess" : "onScreenResolutionError");
}

// Takes nothing but the reply name, which the dispatch has checked, and answers nothing.
void CLauncherServices::ScreenResolutionDisable(CFlashLocalConnectionCall*, const std::string&, HWND)
{
    RestoreDisplayMode();
}

// Every device switched, each to its own mode from before its first switch.
void CLauncherServices::RestoreDisplayMode()
{
    if (savedDisplayModes_.empty())
        return;
    for (const SavedDisplays::Saved& saved : savedDisplayModes_)
        change(*displayCalls_, saved.device, saved.mode);
    forgetDisplayModeForCrash();
    savedDisplayModes_.clear();
}
