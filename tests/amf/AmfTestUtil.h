// Shared helpers of the codec tests: hex byte strings and structural comparison.
#pragma once

#include "amf/AmfReader.h"
#include "amf/AmfValues.h"
#include "amf/AmfWriter.h"

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// "02 00 01 61" -> bytes; spaces are ignored.
inline Bytes hex(const std::string& text)
{
    Bytes bytes;
    std::string digits;
    for (char c : text) {
        if (c == ' ')
            continue;
        digits += c;
        if (digits.size() == 2) {
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits, nullptr, 16)));
            digits.clear();
        }
    }
    return bytes;
}

inline std::string toHex(const Bytes& bytes)
{
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// One value decoded, with the reader that decoded it (it still refers to the bytes).
struct Decoded {
    AmfValuePtr value;
    CFlashAMFReader reader;
};

// Decodes one value whose marker is the first byte.
inline Decoded decodeOne(const Bytes& bytes)
{
    Decoded decoded{nullptr, CFlashAMFReader(bytes.data(), bytes.size())};
    decoded.value = decoded.reader.readValue(decoded.reader.readByte());
    return decoded;
}

// The body bytes that writeValue produces for one value.
inline Bytes encodeOne(const CFlashAMFObject* value, std::size_t room = 40960)
{
    std::vector<std::uint8_t> area(CFlashAMFWriter::kHeaderSize + room);
    CFlashAMFWriter writer(area.data(), room);
    writer.writeValue(value);
    const std::int32_t length = writer.finish();
    if (length < 0)
        return {};
    return Bytes(area.begin() + CFlashAMFWriter::kHeaderSize, area.begin() + CFlashAMFWriter::kHeaderSize + length);
}
