// What a thread's stack keeps for the crash path once it has overflowed. The exception's
// dispatch, the crash filter and its wait for the report (reports/CrashHandlers.h) run on
// what is left of the broken thread's stack, which without a guarantee is a page or two:
// too little, and the process dies with no report and the display still switched. So
// every thread the launcher starts keeps this much, first thing.
#pragma once

#include <windows.h>

namespace win {

// Measured under wine64 (crash_probe's stack-use, the 64-bit build, whose frames and
// context are the larger): a fault's dispatch, the filter and its wait for the report
// reached 5,520 bytes below the faulting frame. Windows' own dispatch saves more of the
// processor's state (kilobytes of extended registers on recent processors) and its
// unhandled-exception filter does more before it calls ours: about six times that. The
// stack a thread can use before it overflows is its reserve less this.
inline constexpr ULONG kCrashStackBytes = 32 * 1024;

// On the calling thread. A stack whose reserve cannot spare it keeps what it had.
inline void keepStackForCrash()
{
    ULONG bytes = kCrashStackBytes;
    SetThreadStackGuarantee(&bytes);
}

} // namespace win
