// The floor of the idle cost: nothing but the locked passes a listener makes (open the
// mutex, wait for it, open and map the section, unmap, release, close, pause 10 ms),
// for the number of seconds given on the command line.
#include "localconnection/SectionLayout.h"

#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    const ULONGLONG end = GetTickCount64() + 1000ull * static_cast<ULONGLONG>(argc > 1 ? std::atoi(argv[1]) : 10);
    while (GetTickCount64() < end) {
        HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, lc::kMutexName);
        if (mutex && WaitForSingleObject(mutex, 5000) == WAIT_OBJECT_0) {
            HANDLE section = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, lc::kSectionName);
            void* view = section ? MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr;
            if (view)
                UnmapViewOfFile(view);
            if (section)
                CloseHandle(section);
            ReleaseMutex(mutex);
        }
        if (mutex)
            CloseHandle(mutex);
        Sleep(10);
    }
    return 0;
}
