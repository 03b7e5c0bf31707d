#include "services/FileDialogs.h"

#include "services/FilterText.h"
#include "services/LauncherServices.h"

#include <algorithm>
#include <cstring>

std::vector<char> filterBuffer(const std::string& filterText)
{
    std::vector<char> buffer(kFilterTextSize, '\0');
    std::memcpy(buffer.data(), filterText.data(), std::min(filterText.size(), kFilterTextSize));
    return buffer;
}

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

std::string MakeAbsoluteDirectory(const std::string& directory)
{
    if (directory.find(':') != std::string::npos)
        return directory;
    const DWORD needed = GetCurrentDirectoryA(0, nullptr);
    std::vector<char> current(std::max<DWORD>(needed, MAX_PATH) + 1, '\0');
    GetCurrentDirectoryA(static_cast<DWORD>(current.size()), current.data());
    return std::string(current.data()) + "\\" + directory;
}
