// The main thread's side of receiving the game's calls: the launcher's listening
// connection on the hidden window, and the hand-over of each call to the dispatch.
#pragma once

#include <windows.h>

constexpr UINT kCallMessage = WM_APP + 400;  // 0x8190; wParam holds the call record
constexpr char kLauncherConnectionName[] = "__qel.external.connector__";

void openCallIntake(HWND launcherWindow);
// Tells the listener that the record wParam carries (whose body length lParam carries)
// is taken, dispatches it, then destroys it.
void deliverCall(WPARAM wParam, LPARAM bodyLength, HWND gameWindow);
void closeCallIntake();
