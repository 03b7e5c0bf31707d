// BrowseFile: the system's open dialog, owned by the game's window, answered with the
// chosen path(s) or a cancel.
#include "resources/Texts.h"
#include "services/CallArguments.h"
#include "services/DialogBuffer.h"
#include "services/FileDialogs.h"
#include "services/FilterText.h"
#include "services/LauncherServices.h"

#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kOpenNameSize = 1024;

// One chosen file is the buffer's text up to its first NUL: an initial name longer than
// the chosen path leaves its tail after that NUL. Several files come back, with multiple
// selection only, as the folder, a NUL, then each name from nFileOffset on.
std::vector<std::string> chosenPaths(const std::vector<char>& buffer, bool multipleSelection, std::size_t nameOffset)
{
    const std::string first(buffer.data(), strnlen(buffer.data(), buffer.size()));
    if (!multipleSelection || nameOffset == 0 || nameOffset >= buffer.size() || nameOffset != first.size() + 1)
        return {first};
    const std::string separator = !first.empty() && first.back() == '\\' ? "" : "\\";
    std::vector<std::string> paths;
    for (std::size_t at = nameOffset; at < buffer.size() && buffer[at];) {
        const std::string name(&buffer[at], strnlen(&buffer[at], buffer.size() - at));
        std::string path = first + separator;
        path += name;
        paths.push_back(std::move(path));
        at += name.size() + 1;
    }
    return paths;
}

} // namespace

void CLauncherServices::BrowseFile(CFlashLocalConnectionCall* call, const std::string& replyName, HWND gameWindow)
{
    CallArguments arguments(*call);
    const int count = arguments.left();
    if (count < 3)
        showCountAlert(texts::kCountInsufficient, count);
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

    std::vector<char> fileName = dialogBuffer(initialName, kOpenNameSize);
    std::vector<char> filter = filterBuffer(filterText);
    OPENFILENAMEA dialog = dialogSettings(gameWindow, filter, fileName, initialDirectory.c_str(), flags);
    if (!GetOpenFileNameA(&dialog)) {
        sendAnswer(replyName, "onBrowseFileCancel");
        return;
    }
    auto chosen = std::make_unique<CFlashAMFArray>();
    for (const std::string& path : chosenPaths(fileName, multipleSelection, dialog.nFileOffset))
        chosen->push(std::make_unique<CFlashAMFString>(path));
    std::vector<AmfValuePtr> values;
    values.push_back(std::move(chosen));
    sendAnswer(replyName, "onBrowseFileSelect", std::move(values));
}
