#include "win/WidePath.h"

#include "win/WideText.h"

#include <windows.h>

namespace win {

std::wstring widePath(std::string_view utf8)
{
    std::wstring path = widen(utf8);
    std::wstring full;
    for (DWORD needed = path.empty() ? 0 : GetFullPathNameW(path.c_str(), 0, nullptr, nullptr); needed > full.size();) {
        full.assign(needed, L'\0');
        needed = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
        if (needed == 0)
            full.clear();
        else if (needed < full.size())
            full.resize(needed);
    }
    if (full.size() < MAX_PATH || full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0)
        return path;
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

} // namespace win
