// The host's stand-in for the platform converters: Windows-1252 as the ANSI code page,
// with the platform's rules (malformed UTF-8 becomes U+FFFD, unmappable characters '?').
#include "amf/TextEncoding.h"

#include <cstdint>
#include <cstring>

namespace {

// Code points of Windows-1252 bytes 0x80..0x9F; 0 where the byte is undefined.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

constexpr char32_t kReplacement = 0xFFFD;

// One code point from `text` at `i`, refusing malformed input as the platform does,
// one U+FFFD per refusal: a lead byte that cannot start a sequence (80-C1, F5-FF) is
// refused alone; a sequence cut by the end of the text takes the rest of it; a byte
// that cannot continue a sequence ends it and is read again; an overlong form, a
// surrogate or a value past U+10FFFF is refused as soon as its first two bytes show it.
char32_t decodeOne(std::string_view text, std::size_t& i)
{
    const auto lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80)
        return lead;
    std::size_t extra = 0;
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, cp = lead & 0x07;
    } else {
        return kReplacement;
    }
    if (text.size() - i < extra) {
        i = text.size();
        return kReplacement;
    }
    for (std::size_t k = 0; k < extra; ++k) {
        const unsigned char bits = static_cast<unsigned char>(text[i]) ^ 0x80;
        if (bits >= 0x40)
            return kReplacement;
        cp = (cp << 6) | bits;
        ++i;
        if (k == 0) {
            const bool refused = extra == 3 ? cp < 0x10 || cp >= 0x110
                                            : extra == 2 && (cp < 0x20 || (cp >= (0xD800 >> 6) && cp <= (0xDFFF >> 6)));
            if (refused)
                return kReplacement;
        }
    }
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

constexpr char32_t decode1252(unsigned char byte)
{
    if (byte >= 0x80 && byte < 0xA0)
        return kHighControls[byte - 0x80] ? kHighControls[byte - 0x80] : byte;
    return byte;
}

// Writes one code point as UTF-8 at `out`; returns the end.
constexpr char* putUtf8(char* out, char32_t cp)
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
    // No sequence gives more bytes than it takes: the input's size is room enough.
    std::string out(utf8.size(), '\0');
    char* next = out.data();
    for (std::size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x80) {
            *next++ = static_cast<char>(byte);
            ++i;
            continue;
        }
        const char32_t cp = decodeOne(utf8, i);
        *next++ = encode1252(cp);
        if (cp > 0xFFFF)
            *next++ = '?'; // the platform goes through UTF-16: two units, neither in the code page
    }
    out.resize(static_cast<std::size_t>(next - out.data()));
    return out;
}

namespace {

// The UTF-8 form of every byte, worked out once; zero has none (the text ends there).
// Four bytes, so that one store can write a character.
struct Utf8Form {
    char bytes[3];
    std::uint8_t length;
};

struct Utf8Forms {
    Utf8Form of[256];
};

constexpr Utf8Forms makeUtf8Forms()
{
    Utf8Forms forms{};
    for (int byte = 1; byte < 0x100; ++byte) {
        char bytes[4] = {};
        const char* end = putUtf8(bytes, decode1252(static_cast<unsigned char>(byte)));
        Utf8Form& form = forms.of[byte];
        form.length = static_cast<std::uint8_t>(end - bytes);
        for (int i = 0; i < 3; ++i)
            form.bytes[i] = bytes[i];
    }
    return forms;
}

constexpr Utf8Forms kUtf8Forms = makeUtf8Forms();
static_assert(sizeof(Utf8Form) == 4);

} // namespace

std::size_t ansiToUtf8Into(std::string_view ansi, char* out, std::size_t room)
{
    const auto* in = reinterpret_cast<const unsigned char*>(ansi.data());
    const auto* const inEnd = in + ansi.size();
    char* next = out;
    const char* const end = out + room;
    for (; in != inEnd; ++in) {
        const Utf8Form& form = kUtf8Forms.of[*in];
        if (form.length == 0)
            break; // the text ends at its first zero
        // A character followed by three more is stored whole, four bytes at once: those
        // three write at least the three bytes that may lie past it. The last three are
        // stored exactly, so nothing past the text is touched.
        if (end - next >= 4 && inEnd - in > 3 && in[1] && in[2] && in[3]) {
            std::memcpy(next, &form, 4);
        } else {
            if (end - next < form.length)
                return kTextDoesNotFit;
            for (int i = 0; i < form.length; ++i)
                next[i] = form.bytes[i];
        }
        next += form.length;
    }
    return static_cast<std::size_t>(next - out);
}

std::string ansiToUtf8(std::string_view ansi)
{
    if (isPlainAscii(ansi))
        return std::string(ansi);
    // A 1252 character takes at most three UTF-8 bytes.
    std::string out(ansi.size() * 3, '\0');
    out.resize(ansiToUtf8Into(ansi, out.data(), out.size()));
    return out;
}
