#include "Transcript.h"

#include "win/WideText.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

void transcriptLine(const std::string& line)
{
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    const std::string path = environmentText(L"TOVIN_TRANSCRIPT");
    FILE* out = path.empty() ? nullptr : _wfopen(win::widen(path).c_str(), L"ab");
    std::fprintf(out ? out : stdout, "%s\n", line.c_str());
    std::fflush(out ? out : stdout);
    if (out)
        std::fclose(out);
}

std::string environmentText(const wchar_t* name)
{
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0)
        return {};
    std::wstring value(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
    value.resize(length < needed ? length : 0);
    return win::narrow(value);
}
