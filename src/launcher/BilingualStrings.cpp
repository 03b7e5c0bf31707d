#include "launcher/BilingualStrings.h"

#include "launcher/BilingualText.h"
#include "localconnection/Trace.h"
#include "resources/resource.h"

#include <algorithm>
#include <cstring>

int g_languageIndex = 1;

namespace {

HINSTANCE g_stringModule = nullptr;
constexpr int kWorkBufferSize = 4096;

bool isAnsiLeadByte(unsigned char byte)
{
    return IsDBCSLeadByte(byte) != FALSE;
}

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
    char work[kWorkBufferSize] = {};
    const int length = LoadStringA(g_stringModule, id, work, capacity);
    const std::string half =
        bilingualHalf(std::string_view(work, length > 0 ? length : 0), g_languageIndex, isAnsiLeadByte);
    const std::string_view fitted = cutToFit(half, static_cast<std::size_t>(capacity - 1), isAnsiLeadByte);
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
    char text[1025]; // wsprintfA writes at most 1024 characters
    wsprintfA(text, format, static_cast<int>(error));
    lc::traceBox(caption, text);
    MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONERROR);
}
