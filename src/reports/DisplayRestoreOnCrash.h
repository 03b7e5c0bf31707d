// A process that dies of a crash or any other bad end, or that leaves the entry point
// through exit(), skips the teardown that puts a changed display mode back: the crash
// handlers (reports/CrashHandlers.h) and the runtime's exit processing put it back from
// this copy.
#pragma once

#include <windows.h>

// The mode a crash puts back: a plain copy, so that a handler needs nothing else.
void keepDisplayModeForCrash(const DEVMODEA& mode);
// Nothing to put back any more (the mode was restored the ordinary way).
void forgetDisplayModeForCrash();
// Puts the kept mode back, at most once whoever asks (terminate goes on into abort); from
// any thread, without allocating.
void restoreDisplayModeAfterCrash();
