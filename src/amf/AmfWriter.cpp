#include "amf/AmfWriter.h"

#include "amf/TextEncoding.h"

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
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    writeBytes(bytes, 2);
}

void CFlashAMFWriter::writeUInt32(std::uint32_t value)
{
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
                                   static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    writeBytes(bytes, 4);
}

void CFlashAMFWriter::writeDouble(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    std::uint8_t bytes[8];
    for (int i = 7; i >= 0; --i, bits >>= 8)
        bytes[i] = static_cast<std::uint8_t>(bits);
    writeBytes(bytes, 8);
}

void CFlashAMFWriter::writeShortString(std::string_view ansi)
{
    if (isPlainAscii(ansi) && ansi.size() <= 0xFFFF) {
        writeUInt16(static_cast<int>(ansi.size()));
        writeBytes(ansi.data(), ansi.size());
        return;
    }
    const std::string utf8 = ansiToUtf8(ansi);
    if (utf8.size() > 0xFFFF) {  // the 16-bit length cannot hold it
        failed_ = true;
        return;
    }
    writeUInt16(static_cast<int>(utf8.size()));
    writeBytes(utf8.data(), utf8.size());
}

void CFlashAMFWriter::writeLongString(std::string_view ansi)
{
    const std::string utf8 = ansiToUtf8(ansi);
    writeUInt32(static_cast<std::uint32_t>(utf8.size()));
    writeBytes(utf8.data(), utf8.size());
}

void CFlashAMFWriter::writeStringValue(std::string_view ansi)
{
    writeByte(0x02);
    writeShortString(ansi);
}

void CFlashAMFWriter::writeSlot(const CFlashAMFObject* value)
{
    if (value)
        writeValue(value);
    else
        writeByte(0x05);
}

void CFlashAMFWriter::writeValue(const CFlashAMFObject* value)
{
    if (!value || failed_)
        return;
    switch (value->getType()) {
    case kAmfNumber:
        writeByte(0x00);
        writeDouble(value->toNumber());
        break;
    case kAmfBoolean:
        writeByte(0x01);
        writeByte(value->toBoolean() ? 0x01 : 0x00);
        break;
    case kAmfString:
        writeByte(0x02);
        writeShortString(static_cast<const CFlashAMFString*>(value)->value);
        break;
    case kAmfNull:
        writeByte(0x05);
        break;
    case kAmfAssociativeArray: {
        // Every associative array, typed or not, goes out as an anonymous object,
        // its members from the last to the first.
        const auto* object = static_cast<const CFlashAMFAssociativeArray*>(value);
        writeByte(0x03);
        for (std::int32_t i = object->count() - 1; i >= 0; --i) {
            writeShortString(object->keyAt(i));
            writeSlot(object->valueAt(i));
        }
        writeBytes("\x00\x00\x09", 3);
        break;
    }
    case kAmfArray: {
        const auto* array = static_cast<const CFlashAMFArray*>(value);
        writeByte(0x0A);
        writeUInt32(static_cast<std::uint32_t>(array->count()));
        for (std::int32_t i = array->count() - 1; i >= 0; --i)
            writeSlot(array->item(i));
        break;
    }
    case kAmfDate: {
        // The offset goes out in minutes, as the reader takes it.
        const auto* date = static_cast<const CFlashAMFDate*>(value);
        writeByte(0x0B);
        writeDouble(date->time);
        writeUInt16(static_cast<int>(static_cast<std::uint16_t>(static_cast<std::int64_t>(date->timezone) * 60)));
        break;
    }
    case kAmfXml:
        writeByte(0x0F);
        writeLongString(static_cast<const CFlashAMFXml*>(value)->value);
        break;
    default:
        break;
    }
}

std::int32_t CFlashAMFWriter::finish()
{
    if (failed_)
        return -1;
    const auto length = static_cast<std::uint32_t>(next_ - area_ - kHeaderSize);
    for (int i = 0; i < 4; ++i)
        area_[12 + i] = static_cast<std::uint8_t>(length >> (8 * i));
    return static_cast<std::int32_t>(length);
}
