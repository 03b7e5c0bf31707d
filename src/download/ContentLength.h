// The body length a server announces, read from the header's text.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The decimal length in `text` (blanks around it allowed); none for anything else, which
// leaves the body to end where the server ends it. A length past 64 bits is taken as the
// largest one: no body can reach it, so the transfer ends as a body cut short.
std::optional<std::uint64_t> parseContentLength(std::string_view text);
