// The main thread's side of receiving the game's calls: the launcher's listening
// connection on the hidden window, and the hand-over of each call to the dispatch.
#pragma once

#include <windows.h>

constexpr UINT kCallMessage = WM_APP + 400;  // 0x8190; wParam holds the call record
constexpr char kLauncherConnectionName[] = "__qel.external.connector__";

void openCallIntake(HWND launcherWindow);
// Dispatches the record that wParam carries, then destroys it and tells the listener
// that the call (whose body length lParam carries) is finished.
void deliverCall(WPARAM wParam, LPARAM bodyLength, HWND gameWindow);
void closeCallIntake();
