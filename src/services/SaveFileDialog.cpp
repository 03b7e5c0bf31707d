// BrowseFileToSave: the system's save dialog, owned by the game's window, answered with
// the chosen path or a cancel.
#include "services/CallArguments.h"
#include "services/DialogBuffer.h"
#include "services/FileDialogs.h"
#include "services/FilterText.h"
#include "services/LauncherServices.h"
#include "win/WideText.h"

#include <vector>

void CLauncherServices::BrowseFileToSave(CFlashLocalConnectionCall* call, const std::string& replyName, HWND gameWindow)
{
    CallArguments arguments(*call);
    std::vector<wchar_t> initialDirectory(kSaveBufferSize, L'\0');
    if (AmfValuePtr value = arguments.next())
        initialDirectory = dialogBuffer<wchar_t>(win::widen(MakeAbsoluteDirectory(value->toString())), kSaveBufferSize);
    std::vector<wchar_t> fileName(kSaveBufferSize, L'\0');
    if (AmfValuePtr value = arguments.next())
        fileName = dialogBuffer<wchar_t>(win::widen(value->toString()), kSaveBufferSize);
    std::vector<wchar_t> filter(kFilterTextSize, L'\0'); // no list: no file types at all
    if (AmfValuePtr value = arguments.next())
        filter = filterBuffer(BuildFilterText(value.get()));

    OPENFILENAMEW dialog =
        dialogSettings(gameWindow, filter, fileName, initialDirectory[0] ? initialDirectory.data() : nullptr,
                       OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT);
    if (!GetSaveFileNameW(&dialog)) {
        sendAnswer(replyName, "onBrowseFileToSaveCancel");
        return;
    }
    std::vector<AmfValuePtr> values;
    values.push_back(std::make_unique<CFlashAMFString>(win::narrow(fileName.data())));
    sendAnswer(replyName, "onBrowseFileToSaveSelect", std::move(values));
}
