// A process that dies of a crash or any other bad end, or that leaves the entry point
// through exit(), skips the teardown that puts changed display modes back: the crash
// handlers (reports/CrashHandlers.h) and the runtime's exit processing put them back from
// this copy.
#pragma once

#include "display/DisplayCalls.h"

// The modes a crash puts back, each on its device, and the calls that do it: a plain
// copy, so that a handler needs nothing else. `calls` must outlive the process's end.
void keepDisplayModeForCrash(const DisplayCalls& calls, const SavedDisplays& saved);
// Nothing to put back any more (the modes were restored the ordinary way).
void forgetDisplayModeForCrash();
// Puts the kept modes back, at most once whoever asks (terminate goes on into abort);
// from any thread, without allocating.
void restoreDisplayModeAfterCrash();
