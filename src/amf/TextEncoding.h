// Text is UTF-8 everywhere inside the launcher, as the wire carries it: these two no longer
// convert, and only hand the text on, cut at its first zero byte as they always did. They
// remain for the files that still call them until those no longer do; then this header goes.
#pragma once

#include <string>
#include <string_view>

inline std::string utf8ToAnsi(std::string_view utf8)
{
    return std::string(utf8.substr(0, utf8.find('\0')));
}

inline std::string ansiToUtf8(std::string_view ansi)
{
    return std::string(ansi.substr(0, ansi.find('\0')));
}
