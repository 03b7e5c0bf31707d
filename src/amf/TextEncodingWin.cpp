// The platform's converters, with the system's ANSI code page.
#include "amf/TextEncoding.h"

#include <windows.h>

namespace {

std::string convert(std::string_view text, UINT from, UINT to)
{
    if (isPlainAscii(text))
        return std::string(text);
    text = text.substr(0, text.find('\0'));
    if (text.empty())
        return {};
    const int inputLength = static_cast<int>(text.size());
    const int wideLength = MultiByteToWideChar(from, 0, text.data(), inputLength, nullptr, 0);
    if (wideLength <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(from, 0, text.data(), inputLength, wide.data(), wideLength);
    // The output is sized from the converter's own answer: a character may take three UTF-8 bytes.
    const int outputLength = WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (outputLength <= 0)
        return {};
    std::string output(static_cast<std::size_t>(outputLength), '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideLength, output.data(), outputLength, nullptr, nullptr);
    return output.substr(0, output.find('\0'));
}

} // namespace

std::string utf8ToAnsi(std::string_view utf8)
{
    return convert(utf8, CP_UTF8, CP_ACP);
}

std::string ansiToUtf8(std::string_view ansi)
{
    return convert(ansi, CP_ACP, CP_UTF8);
}
