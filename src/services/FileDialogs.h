// What the open and save dialogs share: their fixed buffers and the dialog settings.
// Every buffer holds UTF-16 and every size counts UTF-16 units.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include <cstddef>
#include <string>
#include <vector>

// Without the trailing reserved fields and extended flags.
const DWORD kDialogStructSize = OPENFILENAME_SIZE_VERSION_400W;

// The open dialog's name buffer for one name, and for the initial name in either case.
constexpr std::size_t kOpenNameSize = 1024;
// Several names: room for hundreds of full paths.
constexpr std::size_t kOpenNamesSize = 64 * 1024;
// The save dialog's buffers, for its initial folder and for the name.
constexpr std::size_t kSaveBufferSize = 2048;

// The filter buffer (kFilterTextSize units) holding `filterText` (UTF-8 with its NULs),
// cut to size.
std::vector<wchar_t> filterBuffer(const std::string& filterText);

// The dialog settings both handlers share; every field not set stays zero.
OPENFILENAMEW dialogSettings(HWND owner, std::vector<wchar_t>& filter, std::vector<wchar_t>& fileName,
                             const wchar_t* initialDirectory, DWORD flags);
