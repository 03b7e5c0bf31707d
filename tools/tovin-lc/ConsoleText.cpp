#include "ConsoleText.h"

#include <windows.h>

namespace {

std::wstring widen(std::string_view text, UINT codePage)
{
    if (text.empty())
        return {};
    const int count = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), count);
    return wide;
}

void write(Stream stream, const std::wstring& line)
{
    HANDLE handle = GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    const int count =
        WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(), count, nullptr, nullptr);
    // Unbuffered: a watch that is cut short has printed everything it saw.
    WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

} // namespace

void writeLine(Stream stream, std::string_view ansi)
{
    write(stream, widen(ansi, CP_ACP) + L"\r\n");
}

void writeUtf8Line(Stream stream, std::string_view utf8)
{
    write(stream, widen(utf8, CP_UTF8) + L"\r\n");
}

void writeUtf8Text(Stream stream, std::string_view utf8)
{
    std::wstring text;
    for (std::size_t start = 0; start < utf8.size();) {
        std::size_t end = utf8.find('\n', start);
        if (end == std::string_view::npos)
            end = utf8.size();
        text += widen(utf8.substr(start, end - start), CP_UTF8) + L"\r\n";
        start = end + 1;
    }
    write(stream, text);
}
