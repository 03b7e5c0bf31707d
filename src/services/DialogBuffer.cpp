#include "services/DialogBuffer.h"

#include <algorithm>
#include <cstring>

std::vector<char> dialogBuffer(const std::string& text, std::size_t size)
{
    std::vector<char> buffer(std::max<std::size_t>(size, 1), '\0');
    std::memcpy(buffer.data(), text.data(), std::min(text.size(), buffer.size() - 1));
    return buffer;
}
