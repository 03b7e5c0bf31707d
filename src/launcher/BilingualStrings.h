// The launcher's bilingual string entries and its start-up error box.
#pragma once

#include <windows.h>

// 0 picks the French half of every entry, 1 the English half. Fixed at 1.
extern int g_languageIndex;

// The module whose string table is read (the launcher's own instance).
void setStringModule(HINSTANCE module);

// Writes the selected half of string entry `id` as UTF-8, zero-terminated and cut to fit
// `capacity` bytes (at most 4096) without splitting a character; at most capacity - 1
// characters of the entry are read. A missing entry gives the empty text.
void LoadBilingualString(UINT id, char* output, int capacity);

// The box shown when the game cannot be started or the launcher window made;
// reports the calling thread's last error, so call it right after the failing call.
void ShowLaunchError();
