#include "services/FileDialogs.h"

#include "services/DialogBuffer.h"
#include "services/FilterText.h"
#include "services/LauncherServices.h"
#include "win/WideText.h"

std::vector<wchar_t> filterBuffer(const std::string& filterText)
{
    // A UTF-8 text never has fewer bytes than its UTF-16 form has units: a filter text
    // that fits kFilterTextSize bytes fits as many units.
    return dialogBuffer<wchar_t>(win::widen(filterText), kFilterTextSize);
}

OPENFILENAMEW dialogSettings(HWND owner, std::vector<wchar_t>& filter, std::vector<wchar_t>& fileName,
                             const wchar_t* initialDirectory, DWORD flags)
{
    OPENFILENAMEW dialog = {};
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
    // Asked for its size first: a current directory of any length, never a cut one.
    std::wstring current;
    for (DWORD needed = GetCurrentDirectoryW(0, nullptr); needed > current.size();) {
        current.assign(needed, L'\0');
        needed = GetCurrentDirectoryW(needed, current.data());
        if (needed == 0)
            current.clear();
        else if (needed < current.size())
            current.resize(needed);
    }
    return win::narrow(current) + "\\" + directory;
}
