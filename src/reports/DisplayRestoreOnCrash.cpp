#include "reports/DisplayRestoreOnCrash.h"

namespace {

enum : LONG { kNothingKept = 0, kCopying = 1, kKept = 2 };

DEVMODEA g_keptMode;
volatile LONG g_state = kNothingKept;

} // namespace

void restoreDisplayModeAfterCrash()
{
    if (InterlockedCompareExchange(&g_state, kNothingKept, kKept) == kKept)
        ChangeDisplaySettingsA(&g_keptMode, 0);
}

void keepDisplayModeForCrash(const DEVMODEA& mode)
{
    // A handler that runs while the copy is being made finds nothing to put back.
    InterlockedExchange(&g_state, kCopying);
    g_keptMode = mode;
    InterlockedExchange(&g_state, kKept);
}

void forgetDisplayModeForCrash()
{
    InterlockedExchange(&g_state, kNothingKept);
}
