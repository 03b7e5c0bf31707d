#include "launcher/BilingualStrings.h"

#include "launcher/BilingualText.h"
#include "localconnection/Trace.h"
#include "resources/resource.h"
#include "win/WideText.h"

#include <algorithm>
#include <cstring>

int g_languageIndex = 1;

namespace {

HINSTANCE g_stringModule = nullptr;
constexpr int kWorkBufferSize = 4096;

} // namespace

void setStringModule(HINSTANCE module)
{
    g_stringModule = module;
}

void LoadBilingualString(UINT id, char* output, int capacity)
{
    if (!output || capacity <= 0)
        return;
    capacity = std::min(capacity, kWorkBufferSize);
    // The table is UTF-16 in the module: read as it is, whatever the code page.
    wchar_t work[kWorkBufferSize] = {};
    const int length = LoadStringW(g_stringModule, id, work, capacity);
    const std::string entry = win::narrow(std::wstring_view(work, length > 0 ? length : 0));
    const std::string half = bilingualHalf(entry, g_languageIndex);
    const std::string_view fitted = cutToFit(half, static_cast<std::size_t>(capacity - 1));
    std::memcpy(output, fitted.data(), fitted.size());
    output[fitted.size()] = '\0';
}

void ShowLaunchError()
{
    const DWORD error = GetLastError();
    char caption[1024];
    LoadBilingualString(IDS_LAUNCH_ERROR_CAPTION, caption, sizeof caption);
    char format[kWorkBufferSize];
    LoadBilingualString(IDS_INTERNAL_ERROR, format, sizeof format);
    wchar_t text[1025]; // wsprintfW writes at most 1024 characters
    wsprintfW(text, win::widen(format).c_str(), static_cast<int>(error));
    const std::wstring wideCaption = win::widen(caption);
    lc::traceBox(caption, win::narrow(text).c_str());
    MessageBoxW(nullptr, text, wideCaption.c_str(), MB_OK | MB_ICONERROR);
}
