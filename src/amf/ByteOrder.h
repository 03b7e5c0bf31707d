// Loads and stores of unsigned integers in a stated byte order, on bytes of any
// alignment. AMF0 numbers and lengths are big-endian; the section's header words
// (timestamp, message length) are little-endian.
#pragma once

#include <cstdint>
#include <cstring>

namespace byteorder {

inline std::uint16_t loadBig16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

inline std::uint32_t loadBig32(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

inline std::uint64_t loadBig64(const std::uint8_t* p)
{
    return (std::uint64_t{loadBig32(p)} << 32) | loadBig32(p + 4);
}

inline void storeBig16(std::uint8_t* p, std::uint16_t value)
{
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

inline void storeBig32(std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}

inline void storeBig64(std::uint8_t* p, std::uint64_t value)
{
    storeBig32(p, static_cast<std::uint32_t>(value >> 32));
    storeBig32(p + 4, static_cast<std::uint32_t>(value));
}

inline std::uint32_t loadLittle32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

inline void storeLittle32(std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
}

// The bits of a double as AMF0 carries them, and back.
inline std::uint64_t doubleBits(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline double bitsDouble(std::uint64_t bits)
{
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace byteorder
