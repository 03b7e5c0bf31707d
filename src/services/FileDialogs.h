// What the open and save dialogs share: their fixed buffers and the dialog settings.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include <string>
#include <vector>

// Without the trailing reserved fields and extended flags.
const DWORD kDialogStructSize = OPENFILENAME_SIZE_VERSION_400A;

// The filter buffer (kFilterTextSize bytes) holding `filterText`, cut to size.
std::vector<char> filterBuffer(const std::string& filterText);

// The dialog settings both handlers share; every field not set stays zero.
OPENFILENAMEA dialogSettings(HWND owner, std::vector<char>& filter, std::vector<char>& fileName,
                             const char* initialDirectory, DWORD flags);
