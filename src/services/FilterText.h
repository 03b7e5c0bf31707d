// The file dialogs' filter text, built from the game's filter list.
#pragma once

#include "amf/AmfValues.h"

#include <cstddef>
#include <string>

constexpr std::size_t kFilterTextSize = 2048;

// Description/pattern pairs from members 0, 1, 2, ... of an associative array, each
// string NUL-terminated, then one more NUL. Anything else (or nothing) gives the pair
// "All Files" / "*.*"; pairs with a missing or non-string member are skipped; a pair
// that does not fit the 2048-byte buffer whole is dropped with all pairs after it.
// The result holds the bytes up to and including the final NUL.
std::string BuildFilterText(const CFlashAMFObject* filterList);
