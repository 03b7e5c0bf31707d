// Text is UTF-8 inside the launcher and UTF-16 at every Windows call: these two
// conversions are the only place where one becomes the other.
//
// The rule for text that is not valid UTF-8 (anything from the wire may be): each
// maximal ill-formed part becomes one U+FFFD, as the Unicode standard recommends and
// Windows' own converter does, so a bad byte never hides the character after it. A
// lone surrogate in UTF-16 (a name Windows handed over) becomes U+FFFD likewise.
// Answers echo what the game sent as its bytes; only what goes to Windows is replaced.
#pragma once

#include <string>
#include <string_view>

namespace text {

inline constexpr char32_t kReplacement = 0xFFFD;

// One code unit type per platform: wchar_t on Windows, char16_t in the host's tests.
template <class Unit>
std::basic_string<Unit> toUtf16(std::string_view utf8)
{
    static_assert(sizeof(Unit) >= 2);
    std::basic_string<Unit> out;
    out.reserve(utf8.size());
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char lead = s[i];
        if (lead < 0x80) {
            out.push_back(static_cast<Unit>(lead));
            ++i;
            continue;
        }
        // How many bytes follow, and the range the first of them must fall in (what
        // rules out overlong forms, surrogates and values past U+10FFFF).
        int follow = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            follow = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            follow = 2;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            follow = 3;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        }
        char32_t point = lead & (0x3F >> follow);
        std::size_t next = i + 1;
        int taken = 0;
        for (; taken < follow && next < n; ++taken, ++next) {
            const unsigned char byte = s[next];
            if (byte < low || byte > high)
                break;
            point = (point << 6) | (byte & 0x3F);
            low = 0x80;
            high = 0xBF;
        }
        if (follow == 0 || taken < follow) {
            out.push_back(static_cast<Unit>(kReplacement));
        } else if (point >= 0x10000) {
            point -= 0x10000;
            out.push_back(static_cast<Unit>(0xD800 + (point >> 10)));
            out.push_back(static_cast<Unit>(0xDC00 + (point & 0x3FF)));
        } else {
            out.push_back(static_cast<Unit>(point));
        }
        i = next;
    }
    return out;
}

template <class Unit>
std::string toUtf8(std::basic_string_view<Unit> utf16)
{
    std::string out;
    out.reserve(utf16.size());
    const std::size_t n = utf16.size();
    for (std::size_t i = 0; i < n; ++i) {
        char32_t point = static_cast<char16_t>(utf16[i]);
        if (point >= 0xD800 && point <= 0xDBFF && i + 1 < n) {
            const char32_t trail = static_cast<char16_t>(utf16[i + 1]);
            if (trail >= 0xDC00 && trail <= 0xDFFF) {
                point = 0x10000 + ((point - 0xD800) << 10) + (trail - 0xDC00);
                ++i;
            }
        }
        if (point >= 0xD800 && point <= 0xDFFF)
            point = kReplacement;
        if (point < 0x80) {
            out.push_back(static_cast<char>(point));
        } else if (point < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (point >> 6)));
            out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        } else if (point < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (point >> 12)));
            out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (point >> 18)));
            out.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        }
    }
    return out;
}

} // namespace text
