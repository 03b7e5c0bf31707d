#include "ConsoleText.h"

#include "win/WideText.h"

#include <windows.h>

namespace {

void write(Stream stream, const std::wstring& text)
{
    HANDLE handle = GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string utf8 = win::narrow(text);
    // Unbuffered: a watch that is cut short has printed everything it saw.
    WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

} // namespace

void writeLine(Stream stream, std::string_view utf8)
{
    write(stream, win::widen(utf8) + L"\r\n");
}

void writeText(Stream stream, std::string_view utf8)
{
    std::wstring text;
    for (std::size_t start = 0; start < utf8.size();) {
        std::size_t end = utf8.find('\n', start);
        if (end == std::string_view::npos)
            end = utf8.size();
        text += win::widen(utf8.substr(start, end - start)) + L"\r\n";
        start = end + 1;
    }
    write(stream, text);
}
