// BrowseFileToSave: the system's save dialog, owned by the game's window, answered with
// the chosen path or a cancel.
#include "services/CallArguments.h"
#include "services/DialogBuffer.h"
#include "services/FileDialogs.h"
#include "services/FilterText.h"
#include "services/LauncherServices.h"

#include <vector>

void CLauncherServices::BrowseFileToSave(CFlashLocalConnectionCall* call, const std::string& replyName, HWND gameWindow)
{
    CallArguments arguments(*call);
    std::vector<char> initialDirectory(kSaveBufferSize, '\0');
    if (AmfValuePtr value = arguments.next())
        initialDirectory = dialogBuffer(MakeAbsoluteDirectory(value->toString()), kSaveBufferSize);
    std::vector<char> fileName(kSaveBufferSize, '\0');
    if (AmfValuePtr value = arguments.next())
        fileName = dialogBuffer(value->toString(), kSaveBufferSize);
    std::vector<char> filter(kFilterTextSize, '\0'); // no list: no file types at all
    if (AmfValuePtr value = arguments.next())
        filter = filterBuffer(BuildFilterText(value.get()));

    OPENFILENAMEA dialog =
        dialogSettings(gameWindow, filter, fileName, initialDirectory[0] ? initialDirectory.data() : nullptr,
                       OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT);
    if (!GetSaveFileNameA(&dialog)) {
        sendAnswer(replyName, "onBrowseFileToSaveCancel");
        return;
    }
    std::vector<AmfValuePtr> values;
    values.push_back(std::make_unique<CFlashAMFString>(fileName.data()));
    sendAnswer(replyName, "onBrowseFileToSaveSelect", std::move(values));
}
