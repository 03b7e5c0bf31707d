// Crash and hang reports: minidumps of this process (every thread with its stack, the
// module list, an exception record that says how the process ended or hung, and three
// streams of the launcher's own: what it was doing, where each module's code lies, and
// the launcher's own code, for the stack walk), written by a reporting thread that is
// ready from start-up, never by the thread that broke. They are the only files the
// launcher writes of its own:
//   %LOCALAPPDATA%\TovinLauncher\CrashReports\TovinLauncher-<version>-<yyyymmdd-hhmmss>-<pid>.dmp
//   %LOCALAPPDATA%\TovinLauncher\CrashReports\TovinLauncher-<version>-<yyyymmdd-hhmmss>-<pid>-hang.dmp
// with the newest kCrashReportsKept crash reports and kHangReportsKept hang reports kept.
// scripts/crash-report.py reads one.
#pragma once

#include <windows.h>

inline constexpr int kCrashReportsKept = 5;
// Apart from the crash reports, so that hangs never push a crash out of the folder.
inline constexpr int kHangReportsKept = 2;

// The exception codes of the bad ends that raise no exception, in the range Windows
// leaves to applications: a report's exception record says which way the process ended.
// The runtime's invalid-parameter handler reports under the system's own code,
// STATUS_INVALID_CRUNTIME_PARAMETER.
inline constexpr DWORD kTerminateCode = 0xE0544C01; // std::terminate
inline constexpr DWORD kAbortCode = 0xE0544C02;     // abort, SIGABRT
inline constexpr DWORD kPureCallCode = 0xE0544C03;  // a pure virtual call
inline constexpr DWORD kHangCode = 0xE0544C10;      // the main thread stopped answering

// The user streams of a report (types past the system's reserved range).
inline constexpr ULONG32 kNotesStream = 0x544C0001;   // reports/ReportNotes.h, as text
inline constexpr ULONG32 kCodeMapStream = 0x544C0002; // each module's code sections
inline constexpr ULONG32 kOwnCodeStream = 0x544C0003; // the launcher's own code bytes

// At start-up, on the main thread (the thread a hang report is about): loads the system's
// dbghelp.dll and starts the reporting thread, which waits. The folder is made only for a
// report. Without these (no dbghelp, no thread) no report is written, and a crash goes on
// to the system all the same.
void prepareCrashReports();

// On the thread that ends badly: hands `exception` to the reporting thread, which puts the
// display mode back and writes the report, and waits for it while that thread works (no
// longer once it has stalled for 10 s, a minute at most; then this thread puts the
// display back itself, but after a stack overflow). Returns at once on the
// reporting thread itself (a fault inside a report is left to the system), and after the
// first one's report on any other thread (one report per process).
void reportCrash(EXCEPTION_POINTERS* exception);
// The same for a bad end that raised no exception: its record carries `code`, and this
// thread's context at the call.
void reportBadEnd(DWORD code);

// The watchdog: asks for a report of the main thread, which has stopped answering; the
// reporting thread writes it while the launcher goes on. False when it was not asked (no
// reporting thread, a crash being reported, or a hang report not yet written).
bool requestHangReport();
// Whether a crash is being reported: the watchdog stands down.
bool crashReportUnderWay();
