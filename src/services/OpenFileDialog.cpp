// BrowseFile: the system's open dialog, owned by the game's window, answered with the
// chosen path(s) or a cancel.
#include "resources/Texts.h"
#include "services/CallArguments.h"
#include "services/DialogBuffer.h"
#include "services/FileDialogs.h"
#include "services/FilterText.h"
#include "services/LauncherServices.h"
#include "win/WideText.h"

#include <cderr.h>

#include <utility>
#include <vector>

void CLauncherServices::BrowseFile(CFlashLocalConnectionCall* call, const std::string& replyName, HWND gameWindow)
{
    CallArguments arguments(*call);
    const int count = arguments.left();
    if (count < 3)
        showCountAlert(texts::kCountInsufficient, count);
    // The game may have ended while the box was open: then no dialog opens.
    if (hasEnded())
        return;
    const std::string initialDirectory = MakeAbsoluteDirectory(arguments.nextText());
    const std::string initialName = arguments.nextText();
    const AmfValuePtr filterList = arguments.next();
    const std::string filterText = BuildFilterText(filterList.get());
    bool multipleSelection = false;
    if (AmfValuePtr value = arguments.next())
        multipleSelection = value->toBoolean();
    bool fileMustExist = true;
    if (AmfValuePtr value = arguments.next())
        fileMustExist = value->toBoolean();

    DWORD flags = OFN_EXPLORER | OFN_PATHMUSTEXIST;
    if (multipleSelection)
        flags |= OFN_ALLOWMULTISELECT;
    if (fileMustExist)
        flags |= OFN_FILEMUSTEXIST;

    // The initial name as one name's buffer holds it, in whichever buffer the dialog gets.
    std::vector<wchar_t> fileName = dialogBuffer<wchar_t>(win::widen(initialName), kOpenNameSize);
    fileName.resize(multipleSelection ? kOpenNamesSize : kOpenNameSize, L'\0');
    const std::wstring wideDirectory = win::widen(initialDirectory);
    std::vector<wchar_t> filter = filterBuffer(filterText);
    OPENFILENAMEW dialog = dialogSettings(gameWindow, filter, fileName, wideDirectory.c_str(), flags);
    DialogEnd end = DialogEnd::Chosen;
    if (!GetOpenFileNameW(&dialog))
        end = CommDlgExtendedError() == FNERR_BUFFERTOOSMALL ? DialogEnd::NamesTooLong : DialogEnd::Cancelled;
    const auto paths = chosenPaths(fileName, multipleSelection, dialog.nFileOffset, end);
    if (!paths) {
        sendAnswer(replyName, "onBrowseFileCancel");
        return;
    }
    auto chosen = std::make_unique<CFlashAMFArray>();
    for (const std::string& path : *paths)
        chosen->push(std::make_unique<CFlashAMFString>(path));
    std::vector<AmfValuePtr> values;
    values.push_back(std::move(chosen));
    sendAnswer(replyName, "onBrowseFileSelect", std::move(values));
}
