#include "support/LinuxProcess.h"

#include "win/WinHandles.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

// Files under /proc announce no size: read until the end.
std::string readProcFile(const std::string& path)
{
    const UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return {};
    std::string content;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0)
        content.append(chunk, got);
    return content;
}

} // namespace

int linuxProcessWith(const std::string& needle)
{
    WIN32_FIND_DATAA entry;
    const UniqueFindHandle search(FindFirstFileA("Z:\\proc\\*", &entry));
    if (!search)
        return 0;
    int found = 0;
    do {
        const char* name = entry.cFileName;
        if (!*name || std::strspn(name, "0123456789") != std::strlen(name))
            continue;
        std::string commandLine = readProcFile(std::string("Z:\\proc\\") + name + "\\cmdline");
        for (char& c : commandLine)
            if (c == '\0')
                c = ' ';
        if (commandLine.find(needle) != std::string::npos)
            found = std::atoi(name);
    } while (!found && FindNextFileA(search.get(), &entry));
    return found;
}

std::uint64_t peakResidentKiB(int linuxPid)
{
    const std::string status = readProcFile("Z:\\proc\\" + std::to_string(linuxPid) + "\\status");
    const std::size_t at = status.find("VmHWM:");
    return at == std::string::npos ? 0 : std::strtoull(status.c_str() + at + 6, nullptr, 10);
}
