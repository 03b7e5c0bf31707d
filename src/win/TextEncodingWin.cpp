// The platform's converters, with the system's ANSI code page.
#include "amf/TextEncoding.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// The UTF-16 step of every conversion, reused by the thread's next conversion: once it
// has grown, converting a string costs no allocation. It never holds more characters
// than the longest text converted (and, for the encoder, than the room it was given).
thread_local std::wstring wideBuffer;

// Converts the text (cut at its first zero) to UTF-16 in wideBuffer; the length, 0 when
// empty or refused. With `maxLength`, a text of more UTF-16 characters is not converted
// and answers maxLength + 1.
int toWide(std::string_view text, UINT from, std::size_t maxLength)
{
    text = text.substr(0, text.find('\0'));
    if (text.empty())
        return 0;
    const int inputLength = static_cast<int>(text.size());
    // Each input byte gives at most one UTF-16 character; ask the exact count only
    // when that bound is beyond the limit.
    int wideLength = inputLength;
    if (text.size() > maxLength) {
        wideLength = MultiByteToWideChar(from, 0, text.data(), inputLength, nullptr, 0);
        if (wideLength <= 0)
            return 0;
        if (static_cast<std::size_t>(wideLength) > maxLength)
            return static_cast<int>(maxLength) + 1;
    }
    if (wideBuffer.size() < static_cast<std::size_t>(wideLength))
        wideBuffer.resize(static_cast<std::size_t>(wideLength));
    return std::max(0, MultiByteToWideChar(from, 0, text.data(), inputLength, wideBuffer.data(), wideLength));
}

} // namespace

std::string utf8ToAnsi(std::string_view utf8)
{
    if (isPlainAscii(utf8))
        return std::string(utf8);
    const int wideLength = toWide(utf8, CP_UTF8, static_cast<std::size_t>(-1));
    if (wideLength <= 0)
        return {};
    // The output is sized from the converter's own answer (a code page may use two bytes a character).
    const int outputLength =
        WideCharToMultiByte(CP_ACP, 0, wideBuffer.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (outputLength <= 0)
        return {};
    std::string output(static_cast<std::size_t>(outputLength), '\0');
    WideCharToMultiByte(CP_ACP, 0, wideBuffer.data(), wideLength, output.data(), outputLength, nullptr, nullptr);
    output.resize(std::strlen(output.c_str()));
    return output;
}

std::size_t ansiToUtf8Into(std::string_view ansi, char* out, std::size_t room)
{
    // Every UTF-16 character takes at least one UTF-8 byte: more of them than the room
    // cannot fit, and are not converted.
    const int wideLength = toWide(ansi, CP_ACP, room);
    if (wideLength <= 0)
        return 0;
    if (static_cast<std::size_t>(wideLength) > room)
        return kTextDoesNotFit;
    const int written = WideCharToMultiByte(CP_UTF8, 0, wideBuffer.data(), wideLength, out,
                                            static_cast<int>(std::min<std::size_t>(room, INT_MAX)), nullptr, nullptr);
    if (written <= 0)
        return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? kTextDoesNotFit : 0;
    return static_cast<std::size_t>(written);
}

std::string ansiToUtf8(std::string_view ansi)
{
    if (isPlainAscii(ansi))
        return std::string(ansi);
    // A character of any code page takes at most three UTF-8 bytes.
    std::string out(ansi.size() * 3, '\0');
    const std::size_t written = ansiToUtf8Into(ansi, out.data(), out.size());
    out.resize(written == kTextDoesNotFit ? 0 : written);
    return out;
}
