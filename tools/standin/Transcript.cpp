#include "Transcript.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

void transcriptLine(const std::string& line)
{
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    const char* path = std::getenv("TOVIN_TRANSCRIPT");
    FILE* out = path && *path ? std::fopen(path, "ab") : nullptr;
    std::fprintf(out ? out : stdout, "%s\n", line.c_str());
    std::fflush(out ? out : stdout);
    if (out)
        std::fclose(out);
}
