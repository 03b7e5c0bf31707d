// BrowseFile and BrowseFileToSave: the system's open and save dialogs, owned by the
// game's window, answered with the chosen path(s) or a cancel.
#include "resources/Texts.h"
#include "services/DialogBuffer.h"
#include "services/FilterText.h"
#include "services/LauncherServices.h"

#include <commdlg.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// Without the trailing reserved fields and extended flags.
const DWORD kDialogStructSize = OPENFILENAME_SIZE_VERSION_400A;
constexpr std::size_t kOpenNameSize = 1024;
constexpr std::size_t kSaveBufferSize = 2048;

std::vector<char> filterBuffer(const std::string& filterText)
{
    std::vector<char> buffer(kFilterTextSize, '\0');
    std::memcpy(buffer.data(), filterText.data(), std::min(filterText.size(), kFilterTextSize));
    return buffer;
}

std::string textOf(AmfValuePtr value)
{
    return value ? value->toString() : std::string();
}

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

// The dialog settings both handlers share; every field not set stays zero.
OPENFILENAMEA dialogSettings(HWND owner, std::vector<char>& filter, std::vector<char>& fileName,
                             const char* initialDirectory, DWORD flags)
{
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = kDialogStructSize;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.data();
    dialog.lpstrFile = fileName.data();
    dialog.nMaxFile = static_cast<DWORD>(fileName.size());
    dialog.lpstrInitialDir = initialDirectory;
    dialog.Flags = flags;
    return dialog;
}

} // namespace

std::string MakeAbsoluteDirectory(const std::string& directory)
{
    if (directory.find(':') != std::string::npos)
        return directory;
    const DWORD needed = GetCurrentDirectoryA(0, nullptr);
    std::vector<char> current(std::max<DWORD>(needed, MAX_PATH) + 1, '\0');
    GetCurrentDirectoryA(static_cast<DWORD>(current.size()), current.data());
    return std::string(current.data()) + "\\" + directory;
}

void CLauncherServices::BrowseFile(CFlashLocalConnectionCall* call, const std::string& replyName, HWND gameWindow)
{
    call->takeFirstArgument();
    const int count = static_cast<int>(call->getArguments().size());
    if (count < 3)
        showCountAlert(texts::kCountInsufficient, count);
    const std::string initialDirectory = MakeAbsoluteDirectory(textOf(call->takeFirstArgument()));
    const std::string initialName = textOf(call->takeFirstArgument());
    const AmfValuePtr filterList = call->takeFirstArgument();
    const std::string filterText = BuildFilterText(filterList.get());
    bool multipleSelection = false;
    if (AmfValuePtr value = call->takeFirstArgument())
        multipleSelection = value->toBoolean();
    bool fileMustExist = true;
    if (AmfValuePtr value = call->takeFirstArgument())
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

void CLauncherServices::BrowseFileToSave(CFlashLocalConnectionCall* call, const std::string& replyName, HWND gameWindow)
{
    call->takeFirstArgument();
    std::vector<char> initialDirectory(kSaveBufferSize, '\0');
    if (AmfValuePtr value = call->takeFirstArgument())
        initialDirectory = dialogBuffer(MakeAbsoluteDirectory(value->toString()), kSaveBufferSize);
    std::vector<char> fileName(kSaveBufferSize, '\0');
    if (AmfValuePtr value = call->takeFirstArgument())
        fileName = dialogBuffer(value->toString(), kSaveBufferSize);
    std::vector<char> filter(kFilterTextSize, '\0'); // no list: no file types at all
    if (AmfValuePtr value = call->takeFirstArgument())
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
