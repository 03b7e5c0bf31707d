// The host's stand-in for the platform converters: Windows-1252 as the ANSI code page,
// with the platform's rules (malformed UTF-8 becomes U+FFFD, unmappable characters '?').
#include "amf/TextEncoding.h"

#include <cstdint>

namespace {

// Code points of Windows-1252 bytes 0x80..0x9F; 0 where the byte is undefined.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

constexpr char32_t kReplacement = 0xFFFD;

char32_t decodeOne(std::string_view text, std::size_t& i)
{
    const auto lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80)
        return lead;
    int extra = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, cp = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, cp = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return kReplacement;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            return kReplacement;
        cp = (cp << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return kReplacement;
    return cp;
}

char encode1252(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<char>(cp);
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == cp)
            return static_cast<char>(0x80 + i);
    }
    // The five bytes that 1252 leaves undefined map to the same-numbered controls.
    if (cp >= 0x80 && cp < 0xA0 && kHighControls[cp - 0x80] == 0)
        return static_cast<char>(cp);
    return '?';
}

char32_t decode1252(unsigned char byte)
{
    if (byte >= 0x80 && byte < 0xA0)
        return kHighControls[byte - 0x80] ? kHighControls[byte - 0x80] : byte;
    return byte;
}

// Writes one code point as UTF-8 at `out`; returns the end.
char* putUtf8(char* out, char32_t cp)
{
    if (cp < 0x80) {
        *out++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out++ = static_cast<char>(0xC0 | (cp >> 6));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (cp >> 12));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (cp >> 18));
        *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

} // namespace

std::string utf8ToAnsi(std::string_view utf8)
{
    if (isPlainAscii(utf8))
        return std::string(utf8);
    utf8 = utf8.substr(0, utf8.find('\0'));
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();)
        out += encode1252(decodeOne(utf8, i));
    return out;
}

std::string ansiToUtf8(std::string_view ansi)
{
    if (isPlainAscii(ansi))
        return std::string(ansi);
    ansi = ansi.substr(0, ansi.find('\0'));
    // A 1252 character takes at most three UTF-8 bytes.
    std::string out(ansi.size() * 3, '\0');
    char* end = out.data();
    for (char c : ansi)
        end = putUtf8(end, decode1252(static_cast<unsigned char>(c)));
    out.resize(static_cast<std::size_t>(end - out.data()));
    return out;
}
