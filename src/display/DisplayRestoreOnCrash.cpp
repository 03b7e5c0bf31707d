#include "display/DisplayRestoreOnCrash.h"

namespace {

enum : LONG { kNothingKept = 0, kCopying = 1, kKept = 2 };

SavedDisplays g_keptModes;
const DisplayCalls* g_calls = nullptr;
volatile LONG g_state = kNothingKept;

} // namespace

void restoreDisplayModeAfterCrash()
{
    if (InterlockedCompareExchange(&g_state, kNothingKept, kKept) != kKept)
        return;
    for (const SavedDisplays::Saved& saved : g_keptModes) {
        DEVMODEW mode = saved.mode;
        g_calls->changeDisplaySettingsEx(deviceName(saved.device), &mode, nullptr, 0, nullptr);
    }
}

void keepDisplayModeForCrash(const DisplayCalls& calls, const SavedDisplays& saved)
{
    // A handler that runs while the copy is being made finds nothing to put back.
    InterlockedExchange(&g_state, kCopying);
    g_calls = &calls;
    g_keptModes = saved;
    InterlockedExchange(&g_state, kKept);
}

void forgetDisplayModeForCrash()
{
    InterlockedExchange(&g_state, kNothingKept);
}
