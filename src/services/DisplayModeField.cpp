#include "services/DisplayModeField.h"

#include <cmath>

bool toDisplayModeField(double number, std::uint32_t& field)
{
    // -2^63 is the smallest 64-bit integer; 2^63 is already one past the largest.
    if (!std::isfinite(number) || number < -9223372036854775808.0 || number >= 9223372036854775808.0)
        return false;
    field = static_cast<std::uint32_t>(static_cast<std::uint64_t>(static_cast<std::int64_t>(number)));
    return true;
}
