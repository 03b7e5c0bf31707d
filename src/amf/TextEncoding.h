// Text inside the launcher is in the system's ANSI code page; AMF0 carries UTF-8.
// The codec converts at the wire and nowhere else. Both stop at the first zero byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Plain ASCII without a zero byte reads the same in every ANSI code page and in UTF-8,
// so it needs no conversion: most keys and many values are such text.
inline bool isPlainAscii(std::string_view text)
{
    // Eight bytes at a time: a high bit, or a zero byte (the borrow trick), rules it out.
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHighs = 0x8080808080808080u;
    const char* next = text.data();
    std::size_t left = text.size();
    for (; left >= 8; next += 8, left -= 8) {
        std::uint64_t word;
        std::memcpy(&word, next, 8);
        if ((word & kHighs) || ((word - kOnes) & ~word & kHighs))
            return false;
    }
    for (; left > 0; ++next, --left) {
        const auto byte = static_cast<unsigned char>(*next);
        if (byte == 0 || byte >= 0x80)
            return false;
    }
    return true;
}

// Characters the code page cannot hold become its default character ('?').
std::string utf8ToAnsi(std::string_view utf8);
std::string ansiToUtf8(std::string_view ansi);

// What ansiToUtf8Into answers when the text does not fit the room it was given.
constexpr std::size_t kTextDoesNotFit = static_cast<std::size_t>(-1);

// Writes the UTF-8 form of `ansi` at `out`, at most `room` bytes, and returns how many
// it wrote; kTextDoesNotFit when the whole text would not fit (what was written is then
// unspecified). No string is made on the way.
std::size_t ansiToUtf8Into(std::string_view ansi, char* out, std::size_t room);
