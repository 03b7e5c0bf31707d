// The display calls of the mode switch, as a seam: the switch and every restore, the
// crash handlers' too, make them through one of these, so that tests can stand in for a
// desktop of several monitors and for Windows' refusal of depths below 32 bits, which
// Wine does not apply. Plain function pointers, since the crash path calls them.
#pragma once

#include "display/SavedDisplayModes.h"

#include <windows.h>

#include <array>
#include <cstddef>

struct DisplayCalls {
    HMONITOR(WINAPI* monitorFromWindow)(HWND, DWORD);
    BOOL(WINAPI* getMonitorInfo)(HMONITOR, MONITORINFO*);
    BOOL(WINAPI* enumDisplaySettingsEx)(LPCWSTR, DWORD, DEVMODEW*, DWORD);
    LONG(WINAPI* changeDisplaySettingsEx)(LPCWSTR, DEVMODEW*, HWND, DWORD, void*);
};

// The system's own.
const DisplayCalls& systemDisplayCalls();

// A display device by its name (MONITORINFOEXW's szDevice, zero after its end); all zero
// names the default device, for a game window whose monitor cannot be told.
using DisplayDevice = std::array<WCHAR, CCHDEVICENAME>;
// The name to hand the display calls: null for the default device.
inline const WCHAR* deviceName(const DisplayDevice& device)
{
    return device[0] ? device.data() : nullptr;
}
// A machine has a handful of monitors at most: a bound no desktop reaches, which keeps
// the crash handlers' copy of the saved modes small and fixed.
constexpr std::size_t kMaxSavedDisplays = 16;
using SavedDisplays = SavedDisplayModes<DisplayDevice, DEVMODEW, kMaxSavedDisplays>;
