// ScreenResolutionEnable, ScreenResolutionDisable and the restore of the mode in force
// before the first switch.
#include "resources/Texts.h"
#include "services/LauncherServices.h"

#include "services/CallArguments.h"
#include "services/DisplayModeField.h"
#include "reports/DisplayRestoreOnCrash.h"

#include <cstdint>

namespace {

constexpr DWORD kSavedFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY;
constexpr DWORD kRequestedFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT; // the platform picks the rate

void readCurrentMode(DEVMODEA& mode)
{
    mode = {};
    mode.dmSize = sizeof(DEVMODEA);
    mode.dmDriverExtra = 0;
    EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode);
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

void CLauncherServices::ScreenResolutionEnable(CFlashLocalConnectionCall* call, const std::string& replyName, HWND)
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
    if (!savedDisplayMode_) {
        auto saved = std::make_unique<DEVMODEA>();
        readCurrentMode(*saved);
        saved->dmFields = kSavedFields;
        keepDisplayModeForCrash(*saved);
        savedDisplayMode_ = std::move(saved);
    }
    DEVMODEA requested;
    readCurrentMode(requested);
    requested.dmFields = kRequestedFields;
    requested.dmPelsWidth = fields[0];
    requested.dmPelsHeight = fields[1];
    requested.dmBitsPerPel = fields[2];
    const DEVMODEA saved = *savedDisplayMode_;
    const LONG result = ChangeDisplaySettingsA(&requested, 0);
    // The switch sends messages to every window, ours too: the session's end may have
    // come in, and put the mode back, before this switch was done.
    if (hasEnded()) {
        ChangeDisplaySettingsA(const_cast<DEVMODEA*>(&saved), 0);
        return;
    }
    sendAnswer(replyName, result == DISP_CHANGE_SUCCESSFUL ? "onScreenResolutionSuccess" : "onScreenResolutionError");
}

// Takes nothing but the reply name, which the dispatch has checked, and answers nothing.
void CLauncherServices::ScreenResolutionDisable(CFlashLocalConnectionCall*, const std::string&, HWND)
{
    RestoreDisplayMode();
}

void CLauncherServices::RestoreDisplayMode()
{
    if (!savedDisplayMode_)
        return;
    ChangeDisplaySettingsA(savedDisplayMode_.get(), 0);
    forgetDisplayModeForCrash();
    savedDisplayMode_.reset();
}
