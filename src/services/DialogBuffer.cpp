#include "services/DialogBuffer.h"

#include <algorithm>
#include <cstring>
#include <utility>

std::vector<char> dialogBuffer(const std::string& text, std::size_t size)
{
    std::vector<char> buffer(std::max<std::size_t>(size, 1), '\0');
    std::memcpy(buffer.data(), text.data(), std::min(text.size(), buffer.size() - 1));
    return buffer;
}

std::optional<std::vector<std::string>> chosenPaths(const std::vector<char>& buffer, bool multipleSelection,
                                                    std::size_t nameOffset, DialogEnd end)
{
    if (end == DialogEnd::Cancelled)
        return std::nullopt;
    if (end == DialogEnd::NamesTooLong || buffer.empty())
        return std::vector<std::string>{};
    // An initial name longer than the chosen path leaves its tail after the first NUL.
    const std::string first(buffer.data(), strnlen(buffer.data(), buffer.size()));
    if (!multipleSelection || nameOffset == 0 || nameOffset >= buffer.size() || nameOffset != first.size() + 1)
        return std::vector<std::string>{first};
    const std::string separator = !first.empty() && first.back() == '\\' ? "" : "\\";
    std::vector<std::string> paths;
    std::size_t at = nameOffset;
    while (at < buffer.size() && buffer[at]) {
        const std::string name(&buffer[at], strnlen(&buffer[at], buffer.size() - at));
        std::string path = first;
        path.append(separator).append(name);
        paths.push_back(std::move(path));
        at += name.size() + 1;
    }
    // Without the NUL that ends the list the names ran past the buffer, the last one cut.
    if (at >= buffer.size())
        return std::vector<std::string>{};
    return paths;
}
