// Bytes that the connector tests write into the slot by hand.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// An AMF0 string value: marker, 16-bit big-endian length, bytes.
inline std::vector<std::uint8_t> stringValue(const std::string& s)
{
    std::vector<std::uint8_t> bytes(3 + s.size());
    bytes[0] = 0x02;
    bytes[1] = static_cast<std::uint8_t>(s.size() >> 8);
    bytes[2] = static_cast<std::uint8_t>(s.size());
    std::copy(s.begin(), s.end(), bytes.begin() + 3);
    return bytes;
}
