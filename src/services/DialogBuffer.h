// The fixed-size text buffers the file dialogs are given, and what the open dialog's
// buffer holds once it has closed.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// `size` bytes (at least one) holding `text` cut to size - 1 bytes, then zeros.
std::vector<char> dialogBuffer(const std::string& text, std::size_t size);

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
std::optional<std::vector<std::string>> chosenPaths(const std::vector<char>& buffer, bool multipleSelection,
                                                    std::size_t nameOffset, DialogEnd end);
