#include "launcher/BilingualText.h"

namespace {

// Offset of the next '|' that is a character of its own, or npos.
std::size_t findSeparator(std::string_view text, std::size_t from, LeadBytePredicate isLeadByte)
{
    for (std::size_t i = from; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (isLeadByte && isLeadByte(byte) && i + 1 < text.size()) {
            ++i;
            continue;
        }
        if (byte == '|')
            return i;
    }
    return std::string_view::npos;
}

} // namespace

std::string bilingualHalf(std::string_view entry, int half, LeadBytePredicate isLeadByte)
{
    const std::size_t first = findSeparator(entry, 0, isLeadByte);
    if (first == std::string_view::npos)
        return std::string(entry);
    if (half == 0)
        return std::string(entry.substr(0, first));
    const std::size_t second = findSeparator(entry, first + 1, isLeadByte);
    const std::size_t end = second == std::string_view::npos ? entry.size() : second;
    return std::string(entry.substr(first + 1, end - first - 1));
}

std::string_view cutToFit(std::string_view text, std::size_t maxBytes, LeadBytePredicate isLeadByte)
{
    if (text.size() <= maxBytes)
        return text;
    std::size_t kept = 0;
    while (kept < maxBytes) {
        const auto byte = static_cast<unsigned char>(text[kept]);
        const std::size_t width = (isLeadByte && isLeadByte(byte)) ? 2 : 1;
        if (kept + width > maxBytes)
            break;
        kept += width;
    }
    return text.substr(0, kept);
}
