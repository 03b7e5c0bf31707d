// The floor of the idle cost: nothing but the locked passes a listener makes (open the
// mutex, wait for it, open and map the section, unmap, release, close, the receive pause),
// for the number of seconds given on the command line. With TOVIN_BENCH_OUT set it
// writes the mean period of one pass and its pause there ("period_ms T"): the floor of a
// call answered back to back.
#include "localconnection/Pauses.h"
#include "localconnection/SectionLayout.h"
#include "win/WinHandles.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const ULONGLONG start = GetTickCount64();
    const ULONGLONG end = start + 1000ull * static_cast<ULONGLONG>(argc > 1 ? std::atoi(argv[1]) : 10);
    unsigned long long passes = 0;
    while (GetTickCount64() < end) {
        ++passes;
        UniqueHandle mutex(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, lc::kMutexName));
        if (mutex && WaitForSingleObject(mutex.get(), 5000) == WAIT_OBJECT_0) {
            {
                // Unmapped, then closed, before the mutex is released.
                UniqueHandle section(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, lc::kSectionName));
                UniqueView view(section ? MapViewOfFile(section.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr);
            }
            ReleaseMutex(mutex.get());
        }
        mutex.close();
        Sleep(lc::pauses::kAfterReceivePassMs);
    }
    const char* out = std::getenv("TOVIN_BENCH_OUT");
    FILE* results = out ? std::fopen(out, "a") : nullptr;
    if (results) {
        std::fprintf(results, "period_ms %.3f\ndone 0\n",
                     static_cast<double>(GetTickCount64() - start) / static_cast<double>(passes ? passes : 1));
        std::fclose(results);
    }
    return 0;
}
