// The launcher's entry point: starts the game, retitles its window and serves it
// from a hidden window's message loop until the game process has ended.
#include <windows.h>

#include "launcher/BilingualStrings.h"
#include "launcher/Launcher.h"
#include "reports/CrashHandlers.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // First: every bad end from here on leaves a report with the display put back. Also
    // registers the runtime's exit processing: a path that leaves this function any other
    // way than by returning (exit() from deep inside) still puts back a display mode that
    // a switch changed.
    installCrashHandlers();
    setStringModule(instance);
    Launcher launcher(instance);
    const int exitCode = launcher.run();
    launcher.restoreDisplayMode();
    return exitCode;
}
