// The number the game sends for a display mode's width, height or depth, as the field
// of the mode record holds it.
#pragma once

#include <cstdint>

// The low 32 bits of the value truncated toward zero to a signed 64-bit integer
// (1024.9 gives 1024, -1 gives 0xFFFFFFFF). False for a value that is not a finite
// number within that range, which has no such integer.
bool toDisplayModeField(double number, std::uint32_t& field);

// Windows 8 and later neither offer nor set a mode below 32 bits per pixel for a program
// whose manifest declares them, as the launcher's does; one that does not declare them
// gets such a mode emulated while the display stays at 32 bits. So a depth below this
// that the display refuses is asked once more at this depth.
constexpr std::uint32_t kLeastOfferedDepth = 32;

// The depth to ask for after `depth` was refused as a mode the display does not have,
// or 0 when there is none to ask.
constexpr std::uint32_t depthToAskAgain(std::uint32_t depth)
{
    return depth < kLeastOfferedDepth ? kLeastOfferedDepth : 0;
}
