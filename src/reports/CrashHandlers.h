// The handlers of every way the process can end badly: an unhandled exception,
// std::terminate, abort and SIGABRT, a pure virtual call, and the runtime's
// invalid-parameter handler where the runtime has one (Wine's msvcrt.dll has none). Each puts a changed display mode
// back and leaves a report (reports/CrashReport.h) whose exception record says which it was. Then an unhandled
// exception goes on to the system's own error reporting; terminate, abort and a pure
// virtual call end the process with code 3, as the runtime's abort does; an invalid
// parameter ends it as the runtime's own handler would, by a fail-fast that the system's
// error reporting sees. The runtime shows no box of its own on the way.
#pragma once

// Installs the handlers, the exit-time display restore and the reporting thread, and keeps
// the main thread's stack for the crash path (win/CrashStack.h); call once, first thing, on
// the main thread.
void installCrashHandlers();
