#include "amf/AmfWriter.h"

#include "amf/ByteOrder.h"

#include <algorithm>
#include <cstring>

CFlashAMFWriter::CFlashAMFWriter(void* area, std::size_t bodyRoom)
    : area_(static_cast<std::uint8_t*>(area)), next_(area_ + kHeaderSize), limit_(next_ + bodyRoom)
{
}

bool CFlashAMFWriter::reserve(std::size_t n)
{
    if (failed_ || static_cast<std::size_t>(limit_ - next_) < n) {
        failed_ = true;
        return false;
    }
    return true;
}

void CFlashAMFWriter::writeByte(int byte)
{
    if (reserve(1))
        *next_++ = static_cast<std::uint8_t>(byte);
}

void CFlashAMFWriter::writeBytes(const void* source, std::size_t n)
{
    if (!reserve(n))
        return;
    if (n)
        std::memcpy(next_, source, n);
    next_ += n;
}

void CFlashAMFWriter::writeUInt16(int value)
{
    if (!reserve(2))
        return;
    byteorder::storeBig16(next_, static_cast<std::uint16_t>(value));
    next_ += 2;
}

void CFlashAMFWriter::writeUInt32(std::uint32_t value)
{
    if (!reserve(4))
        return;
    byteorder::storeBig32(next_, value);
    next_ += 4;
}

void CFlashAMFWriter::writeDouble(double value)
{
    if (!reserve(8))
        return;
    byteorder::storeBig64(next_, byteorder::doubleBits(value));
    next_ += 8;
}

namespace {

// The encoders below keep the cursor in registers and answer the end of what they
// wrote, or null when it does not fit: a store through a byte pointer may alias
// anything, so a cursor kept in the writer would be reloaded after every byte.

std::uint8_t* putMarkedDouble(int marker, double value, std::uint8_t* next, const std::uint8_t* limit)
{
    if (limit - next < 9)
        return nullptr;
    next[0] = static_cast<std::uint8_t>(marker);
    byteorder::storeBig64(next + 1, byteorder::doubleBits(value));
    return next + 9;
}

// Copies text of at most 16 bytes when it holds no zero byte, with whole-word loads and
// stores that stay inside both ranges; false when it does (the destination then holds
// bytes to be overwritten). Keys and short values are such text, and a library call
// per key would cost more than the copy.
inline bool copyShortText(const char* from, std::size_t n, std::uint8_t* to)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHighs = 0x8080808080808080u;
    std::uint64_t first;
    std::uint64_t last;
    if (n >= 8) {
        std::memcpy(&first, from, 8);
        std::memcpy(&last, from + n - 8, 8);
        std::memcpy(to, &first, 8);
        std::memcpy(to + n - 8, &last, 8);
    } else if (n >= 4) {
        std::uint32_t head;
        std::uint32_t tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + n - 4, 4);
        std::memcpy(to, &head, 4);
        std::memcpy(to + n - 4, &tail, 4);
        first = last = head | (std::uint64_t{tail} << 32);
    } else if (n > 0) {
        // One to three bytes: the first, the middle and the last cover them all, padded
        // with spaces so that the padding is not zero.
        const auto a = static_cast<unsigned char>(from[0]);
        const auto b = static_cast<unsigned char>(from[n / 2]);
        const auto c = static_cast<unsigned char>(from[n - 1]);
        to[0] = a;
        to[n / 2] = b;
        to[n - 1] = c;
        first = last = 0x2020202020000000u | (std::uint64_t{a} << 16) | (std::uint64_t{b} << 8) | c;
    } else {
        return true;
    }
    // A word holds a zero byte exactly when the borrow trick leaves a high bit set.
    const auto noZero = [&](std::uint64_t word) { return ((word - kOnes) & ~word & kHighs) == 0; };
    return noZero(first) && noZero(last);
}

// The text (UTF-8, as held) after a big-endian length of `lengthBytes` (2 or 4) bytes,
// up to its first zero byte.
std::uint8_t* putText(std::string_view text, int lengthBytes, std::uint8_t* next, const std::uint8_t* limit)
{
    if (limit - next < lengthBytes)
        return nullptr;
    std::uint8_t* const out = next + lengthBytes;
    // The 16-bit length bounds a short string.
    const std::size_t maxLength = lengthBytes == 2 ? 0xFFFF : 0xFFFFFFFF;
    const std::size_t room = std::min(static_cast<std::size_t>(limit - out), maxLength);
    const void* zero = std::memchr(text.data(), 0, text.size());
    const std::size_t length = zero ? static_cast<const char*>(zero) - text.data() : text.size();
    if (length > room)
        return nullptr;
    std::memcpy(out, text.data(), length);
    if (lengthBytes == 2)
        byteorder::storeBig16(next, static_cast<std::uint16_t>(length));
    else
        byteorder::storeBig32(next, static_cast<std::uint32_t>(length));
    return out + length;
}

// A short string: a short text without a zero inline, anything else through putText.
inline std::uint8_t* putShortText(std::string_view text, std::uint8_t* next, const std::uint8_t* limit)
{
    const std::size_t length = text.size();
    if (length <= 16 && limit - next >= static_cast<std::ptrdiff_t>(2 + length) &&
        copyShortText(text.data(), length, next + 2)) {
        byteorder::storeBig16(next, static_cast<std::uint16_t>(length));
        return next + 2 + length;
    }
    return putText(text, 2, next, limit);
}

inline std::uint8_t* putStringValue(std::string_view text, std::uint8_t* next, const std::uint8_t* limit)
{
    if (next == limit)
        return nullptr;
    *next = 0x02;
    return putShortText(text, next + 1, limit);
}

std::uint8_t* putValue(const CFlashAMFObject* value, std::uint8_t* next, const std::uint8_t* limit);

// An absent value inside a container goes out as null, so that the container stays
// well-formed. Strings and numbers, the most common members, are told apart here: each
// container loop then branches on its own, more predictable, history.
inline std::uint8_t* putSlot(const CFlashAMFObject* value, std::uint8_t* next, const std::uint8_t* limit)
{
    if (!value) {
        if (next == limit)
            return nullptr;
        *next = 0x05;
        return next + 1;
    }
    const int type = value->getType();
    if (type == kAmfString)
        return putStringValue(static_cast<const CFlashAMFString*>(value)->value, next, limit);
    if (type == kAmfNumber)
        return putMarkedDouble(0x00, static_cast<const CFlashAMFNumber*>(value)->value, next, limit);
    return putValue(value, next, limit);
}

std::uint8_t* putValue(const CFlashAMFObject* value, std::uint8_t* next, const std::uint8_t* limit)
{
    switch (value->getType()) {
    case kAmfNumber:
        return putMarkedDouble(0x00, static_cast<const CFlashAMFNumber*>(value)->value, next, limit);
    case kAmfBoolean:
        if (limit - next < 2)
            return nullptr;
        next[0] = 0x01;
        next[1] = static_cast<const CFlashAMFBoolean*>(value)->value != 0 ? 0x01 : 0x00;
        return next + 2;
    case kAmfString:
        return putStringValue(static_cast<const CFlashAMFString*>(value)->value, next, limit);
    case kAmfNull:
        if (next == limit)
            return nullptr;
        *next = 0x05;
        return next + 1;
    case kAmfAssociativeArray: {
        // Every associative array, typed or not, goes out as an anonymous object,
        // its members from the last to the first.
        if (next == limit)
            return nullptr;
        *next++ = 0x03;
        const auto& members = static_cast<const CFlashAMFAssociativeArray*>(value)->members();
        for (auto member = members.rbegin(); member != members.rend(); ++member) {
            next = putShortText(member->first, next, limit);
            if (!next)
                return nullptr;
            next = putSlot(member->second.get(), next, limit);
            if (!next)
                return nullptr;
        }
        if (limit - next < 3)
            return nullptr;
        next[0] = 0x00;
        next[1] = 0x00;
        next[2] = 0x09;
        return next + 3;
    }
    case kAmfArray: {
        const auto& items = static_cast<const CFlashAMFArray*>(value)->items();
        if (limit - next < 5)
            return nullptr;
        next[0] = 0x0A;
        byteorder::storeBig32(next + 1, static_cast<std::uint32_t>(items.size()));
        next += 5;
        for (auto item = items.rbegin(); item != items.rend() && next; ++item)
            next = putSlot(item->get(), next, limit);
        return next;
    }
    case kAmfDate: {
        // The offset goes out in minutes, as the reader takes it.
        const auto* date = static_cast<const CFlashAMFDate*>(value);
        next = putMarkedDouble(0x0B, date->time, next, limit);
        if (!next || limit - next < 2)
            return nullptr;
        byteorder::storeBig16(next, static_cast<std::uint16_t>(static_cast<std::int64_t>(date->timezone) * 60));
        return next + 2;
    }
    case kAmfXml:
        if (next == limit)
            return nullptr;
        *next = 0x0F;
        return putText(static_cast<const CFlashAMFXml*>(value)->value, 4, next + 1, limit);
    default:
        return next;
    }
}

} // namespace

void CFlashAMFWriter::advance(std::uint8_t* end)
{
    if (end)
        next_ = end;
    else
        failed_ = true;
}

void CFlashAMFWriter::writeShortString(std::string_view text)
{
    if (!failed_)
        advance(putShortText(text, next_, limit_));
}

void CFlashAMFWriter::writeLongString(std::string_view text)
{
    if (!failed_)
        advance(putText(text, 4, next_, limit_));
}

void CFlashAMFWriter::writeStringValue(std::string_view text)
{
    if (!failed_)
        advance(putStringValue(text, next_, limit_));
}

void CFlashAMFWriter::writeValue(const CFlashAMFObject* value)
{
    if (value && !failed_)
        advance(putValue(value, next_, limit_));
}

std::size_t CFlashAMFWriter::sizeBound(const CFlashAMFObject* value, std::size_t limit)
{
    if (!value)
        return 0;
    switch (value->getType()) {
    case kAmfNumber:
        return 9;
    case kAmfBoolean:
        return 2;
    case kAmfString:
        return stringValueBound(static_cast<const CFlashAMFString*>(value)->value);
    case kAmfNull:
        return 1;
    case kAmfAssociativeArray: {
        std::size_t total = 4; // the marker and the end mark
        for (const auto& [key, member] : static_cast<const CFlashAMFAssociativeArray*>(value)->members()) {
            if (total > limit)
                break;
            total += 2 + key.size() + std::max<std::size_t>(1, sizeBound(member.get(), limit));
        }
        return total;
    }
    case kAmfArray: {
        std::size_t total = 5; // the marker and the count
        for (const AmfSlot& item : static_cast<const CFlashAMFArray*>(value)->items()) {
            if (total > limit)
                break;
            total += std::max<std::size_t>(1, sizeBound(item.get(), limit));
        }
        return total;
    }
    case kAmfDate:
        return 11;
    case kAmfXml:
        return 5 + static_cast<const CFlashAMFXml*>(value)->value.size();
    default:
        return 0;
    }
}

std::int32_t CFlashAMFWriter::finish()
{
    if (failed_)
        return -1;
    const auto length = static_cast<std::uint32_t>(size());
    byteorder::storeLittle32(area_ + kLengthOffset, length);
    return static_cast<std::int32_t>(length);
}
