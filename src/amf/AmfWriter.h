// Encodes AMF values as AMF0 into a message area: a 16-byte header (left alone but for
// the length that finish stores at offset 12) followed by the body. Writes are bounded
// by the body's room; one that does not fit marks the writer failed, and a failed
// writer's finish stores nothing, so a partial message is never published.
#pragma once

#include "amf/AmfValues.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

class CFlashAMFWriter {
public:
    static constexpr std::size_t kHeaderSize = 16;

    // `area` is the start of the header; the body may take `bodyRoom` bytes after it.
    CFlashAMFWriter(void* area, std::size_t bodyRoom);

    bool failed() const { return failed_; }

    void writeByte(int byte);
    void writeBytes(const void* source, std::size_t n);
    void writeUInt16(int value);
    void writeUInt32(std::uint32_t value);
    void writeDouble(double value);
    void writeShortString(std::string_view ansi);
    void writeLongString(std::string_view ansi);
    // A complete AMF0 string value: the marker 0x02 and the short string.
    void writeStringValue(std::string_view ansi);
    // One value with its marker; an absent value writes nothing at the top level and
    // a null inside a container, so that containers stay well-formed.
    void writeValue(const CFlashAMFObject* value);
    // Stores the body length at offset 12 (little-endian) and returns it;
    // -1 and nothing stored when the writer failed.
    std::int32_t finish();

private:
    bool reserve(std::size_t n);
    void writeSlot(const CFlashAMFObject* value);

    std::uint8_t* area_;
    std::uint8_t* next_;
    std::uint8_t* limit_;
    bool failed_ = false;
};
