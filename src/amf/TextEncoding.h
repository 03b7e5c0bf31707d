// Text inside the launcher is in the system's ANSI code page; AMF0 carries UTF-8.
// The codec converts at the wire and nowhere else. Both stop at the first zero byte.
#pragma once

#include <string>
#include <string_view>

// Plain ASCII without a zero byte reads the same in every ANSI code page and in UTF-8,
// so it needs no conversion: most keys and many values are such text.
inline bool isPlainAscii(std::string_view text)
{
    unsigned char any = 0;
    bool zero = false;
    for (const char c : text) {
        any |= static_cast<unsigned char>(c);
        zero |= c == '\0';
    }
    return any < 0x80 && !zero;
}

// Characters the code page cannot hold become its default character ('?').
std::string utf8ToAnsi(std::string_view utf8);
std::string ansiToUtf8(std::string_view ansi);
