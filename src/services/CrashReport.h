// The crash report: a minidump of this process (its threads, their stacks, the module
// list and the exception), written by the unhandled-exception filter before the crash
// goes on to the system's own handling. It is the only file the launcher writes of its
// own:
//   %LOCALAPPDATA%\TovinLauncher\CrashReports\TovinLauncher-<version>-<yyyymmdd-hhmmss>-<pid>.dmp
// and only the newest kCrashReportsKept of them are kept. scripts/crash-report.py reads one.
#pragma once

#include <windows.h>

inline constexpr int kCrashReportsKept = 5;

// Writes the report for `exception`; false when it could not be written. Loads
// dbghelp.dll here, not at start-up. A second exception while a report is being written
// (in this thread or another) ends the process at once.
bool writeCrashReport(EXCEPTION_POINTERS* exception);
