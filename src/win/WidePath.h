// A file name from the game as Windows' wide file calls take it, of any length.
#pragma once

#include <string>
#include <string_view>

namespace win {

// The UTF-8 path in UTF-16, as given while its full path fits MAX_PATH. A longer one is
// given in the \\?\ form of its full path (\\?\UNC\ for a network path), which the file
// calls take up to 32767 units: without it they fail on Windows or, worse, could reach
// another name. The full path is the system's own (GetFullPathNameW): the same folder,
// the same "." and "..", as the plain form would have meant.
std::wstring widePath(std::string_view utf8);

} // namespace win
