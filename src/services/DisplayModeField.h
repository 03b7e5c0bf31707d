// The number the game sends for a display mode's width, height or depth, as the field
// of the mode record holds it.
#pragma once

#include <cstdint>

// The low 32 bits of the value truncated toward zero to a signed 64-bit integer
// (1024.9 gives 1024, -1 gives 0xFFFFFFFF). False for a value that is not a finite
// number within that range, which has no such integer.
bool toDisplayModeField(double number, std::uint32_t& field);
