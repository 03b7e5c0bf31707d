// Splitting a "French|English" string entry, held as UTF-8, into its halves.
#pragma once

#include <string>
#include <string_view>

// Half 0 is the text before the first '|', half 1 the text between the first and
// the second '|' (or the end). Without any '|' both halves are the whole text. No byte
// of a UTF-8 character beyond ASCII is a '|', so every '|' is a separator.
std::string bilingualHalf(std::string_view entry, int half);

// Cuts UTF-8 text to at most maxBytes without splitting a character.
std::string_view cutToFit(std::string_view text, std::size_t maxBytes);
