// Splitting a "French|English" string entry into its halves.
#pragma once

#include <string>
#include <string_view>

// Tells whether a byte starts a double-byte character of the ANSI code page, so that
// a '|' trailing such a byte is not taken for the separator.
using LeadBytePredicate = bool (*)(unsigned char);

// Half 0 is the text before the first '|', half 1 the text between the first and
// the second '|' (or the end). Without any '|' both halves are the whole text.
std::string bilingualHalf(std::string_view entry, int half, LeadBytePredicate isLeadByte);

// Cuts text to at most maxBytes without splitting a double-byte character.
std::string_view cutToFit(std::string_view text, std::size_t maxBytes, LeadBytePredicate isLeadByte);
