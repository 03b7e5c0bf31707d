// The floor of the idle cost: nothing but the locked passes a listener makes (open the
// mutex, wait for it, open and map the section, unmap, release, close, pause 10 ms),
// for the number of seconds given on the command line.
#include "localconnection/SectionLayout.h"
#include "localconnection/WinHandles.h"

#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    const ULONGLONG end = GetTickCount64() + 1000ull * static_cast<ULONGLONG>(argc > 1 ? std::atoi(argv[1]) : 10);
    while (GetTickCount64() < end) {
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
        Sleep(10);
    }
    return 0;
}
