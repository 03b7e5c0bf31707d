#include "launcher/BilingualText.h"

std::string bilingualHalf(std::string_view entry, int half)
{
    const std::size_t first = entry.find('|');
    if (first == std::string_view::npos)
        return std::string(entry);
    if (half == 0)
        return std::string(entry.substr(0, first));
    const std::size_t second = entry.find('|', first + 1);
    const std::size_t end = second == std::string_view::npos ? entry.size() : second;
    return std::string(entry.substr(first + 1, end - first - 1));
}

std::string_view cutToFit(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    // A cut before a continuation byte (10xxxxxx) would split its character: go back to
    // where that character starts.
    std::size_t kept = maxBytes;
    while (kept > 0 && (static_cast<unsigned char>(text[kept]) & 0xC0) == 0x80)
        --kept;
    return text.substr(0, kept);
}
