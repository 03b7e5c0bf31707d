// The fixed-size text buffers the file dialogs are given, in UTF-16 (wchar_t on Windows,
// char16_t in the host's tests), and what the open dialog's buffer holds once it has
// closed, as the UTF-8 paths to answer.
#pragma once

#include "text/Utf16.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// `size` units (at least one) holding `text` cut to size - 1 units, never between the
// two halves of a surrogate pair, then zeros.
template <class Unit>
std::vector<Unit> dialogBuffer(std::basic_string_view<Unit> text, std::size_t size)
{
    std::vector<Unit> buffer(std::max<std::size_t>(size, 1), Unit(0));
    std::size_t kept = std::min(text.size(), buffer.size() - 1);
    if (kept < text.size() && kept > 0 && text[kept - 1] >= 0xD800 && text[kept - 1] <= 0xDBFF)
        --kept;
    std::copy_n(text.begin(), kept, buffer.begin());
    return buffer;
}

enum class DialogEnd {
    Chosen,
    Cancelled,    // by the player, or the dialog failed
    NamesTooLong, // the player chose files whose names the buffer could not hold
};

// The paths to answer, or none for a cancel. One chosen file is the buffer's text up to
// its first NUL. Several come back, with multiple selection only, as the folder, a NUL,
// then each name from `nameOffset` on, each with its NUL, and one more NUL at the end.
// Names the buffer could not hold give no path rather than a cut one, which would name
// no file: an empty list, since the player did choose.
template <class Unit>
std::optional<std::vector<std::string>> chosenPaths(const std::vector<Unit>& buffer, bool multipleSelection,
                                                    std::size_t nameOffset, DialogEnd end)
{
    using View = std::basic_string_view<Unit>;
    const auto textAt = [&](std::size_t at) {
        const auto stop = std::find(buffer.begin() + static_cast<std::ptrdiff_t>(at), buffer.end(), Unit(0));
        return View(buffer.data() + at, static_cast<std::size_t>(stop - buffer.begin()) - at);
    };
    if (end == DialogEnd::Cancelled)
        return std::nullopt;
    if (end == DialogEnd::NamesTooLong || buffer.empty())
        return std::vector<std::string>{};
    // An initial name longer than the chosen path leaves its tail after the first NUL.
    const View first = textAt(0);
    if (!multipleSelection || nameOffset == 0 || nameOffset >= buffer.size() || nameOffset != first.size() + 1)
        return std::vector<std::string>{text::toUtf8(first)};
    const std::string folder = text::toUtf8(first);
    const std::string separator = !folder.empty() && folder.back() == '\\' ? "" : "\\";
    std::vector<std::string> paths;
    std::size_t at = nameOffset;
    while (at < buffer.size() && buffer[at]) {
        const View name = textAt(at);
        paths.push_back(folder + separator + text::toUtf8(name));
        at += name.size() + 1;
    }
    // Without the NUL that ends the list the names ran past the buffer, the last one cut.
    if (at >= buffer.size())
        return std::vector<std::string>{};
    return paths;
}
