// The launcher's UTF-8 text as Windows' wide calls take it, and back.
#pragma once

#include "text/Utf16.h"

#include <cwchar>
#include <string>
#include <string_view>

namespace win {

inline std::wstring widen(std::string_view utf8)
{
    return text::toUtf16<wchar_t>(utf8);
}
inline std::string narrow(std::wstring_view wide)
{
    return text::toUtf8(wide);
}
inline std::string narrow(const wchar_t* wide)
{
    return wide ? narrow(std::wstring_view(wide)) : std::string();
}

} // namespace win
