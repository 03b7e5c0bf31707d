// A URL from the game as a browser sends it. The game's text is UTF-8; what goes out is
// ASCII: the host name in its IDNA (xn--) form, every other character beyond ASCII as its
// UTF-8 bytes percent-encoded (%C3%A9 for e acute). ASCII is left exactly as it came, so a
// URL that was ASCII goes out unchanged. Text that is not valid UTF-8 has each ill-formed
// part replaced by U+FFFD first, as everything the game sends to Windows has.
#pragma once

#include <string>
#include <string_view>

// The host name (UTF-8, beyond ASCII) in ASCII, or "" when it has no such form.
using HostToAscii = std::string (*)(std::string_view host);

// A host whose name has no ASCII form, or with no converter, is percent-encoded like the
// rest (no server answers to it: the request fails to connect).
std::string wireUrl(std::string_view url, HostToAscii hostToAscii);
