// A process that dies of an unhandled exception, std::terminate or abort, or that
// leaves the entry point through exit(), skips the teardown that puts a changed
// display mode back; these handlers put it back first. An unhandled exception then
// leaves a crash report (services/CrashReport.h).
#pragma once

#include <windows.h>

// Installs the handlers and the exit-time restore; call once, early, on the main thread.
void installDisplayRestoreOnCrash();
// The mode a crash puts back: a plain copy, so that a handler needs nothing else.
void keepDisplayModeForCrash(const DEVMODEA& mode);
// Nothing to put back any more (the mode was restored the ordinary way).
void forgetDisplayModeForCrash();
