// Encodes AMF values as AMF0 into a message area: a 16-byte header (left alone but for
// the length that finish stores at offset 12) followed by the body. Text goes out as the
// UTF-8 bytes it holds, up to its first zero byte, copied straight into the body. Writes are bounded by the
// body's room; one that does not fit marks the writer failed, and a failed writer's
// finish stores nothing, so a partial message is never published.
#pragma once

#include "amf/AmfValues.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

class CFlashAMFWriter {
public:
    // Where the message area keeps the body's length (little-endian) and where the body starts.
    static constexpr std::size_t kLengthOffset = 12;
    static constexpr std::size_t kHeaderSize = 16;

    // `area` is the start of the header; the body may take `bodyRoom` bytes after it.
    CFlashAMFWriter(void* area, std::size_t bodyRoom);

    bool failed() const { return failed_; }
    // Bytes of body written so far.
    std::size_t size() const { return static_cast<std::size_t>(next_ - area_) - kHeaderSize; }

    void writeByte(int byte);
    void writeBytes(const void* source, std::size_t n);
    void writeUInt16(int value);
    void writeUInt32(std::uint32_t value);
    void writeDouble(double value);
    void writeShortString(std::string_view text);
    void writeLongString(std::string_view text);
    // A complete AMF0 string value: the marker 0x02 and the short string.
    void writeStringValue(std::string_view text);
    // One value with its marker; an absent value writes nothing at the top level and
    // a null inside a container, so that containers stay well-formed.
    void writeValue(const CFlashAMFObject* value);
    // Stores the body length at offset 12 (little-endian) and returns it;
    // -1 and nothing stored when the writer failed.
    std::int32_t finish();

    // At least as many bytes as writeValue takes for `value` (a text counted whole, as
    // if it held no zero byte); stops counting once past `limit`.
    static std::size_t sizeBound(const CFlashAMFObject* value, std::size_t limit);
    // The same for a string value (marker, length and text).
    static std::size_t stringValueBound(std::string_view text) { return 3 + text.size(); }

private:
    bool reserve(std::size_t n);
    // Moves to `end`, or marks the writer failed when it is null.
    void advance(std::uint8_t* end);

    std::uint8_t* area_;
    std::uint8_t* next_;
    std::uint8_t* limit_;
    bool failed_ = false;
};
