// Arbitrary bytes through the AMF0 value decoder, as the receive thread would meet them.
#include "HeapWatch.h"
#include "amf/AmfReader.h"
#include "amf/AmfWriter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The body bytes of one value written into a room of `room` bytes; empty when it does not fit.
std::vector<std::uint8_t> encode(const CFlashAMFObject* value, std::size_t room)
{
    std::vector<std::uint8_t> area(CFlashAMFWriter::kHeaderSize + room);
    CFlashAMFWriter writer(area.data(), room);
    writer.writeValue(value);
    const std::int32_t length = writer.finish();
    if (length <= 0)
        return {};
    return std::vector<std::uint8_t>(area.begin() + CFlashAMFWriter::kHeaderSize,
                                     area.begin() + CFlashAMFWriter::kHeaderSize + length);
}

AmfValuePtr decodeWhole(const std::vector<std::uint8_t>& bytes)
{
    CFlashAMFReader reader(bytes.data(), bytes.size());
    AmfValuePtr value = reader.readValue(reader.readByte());
    return reader.failed() || !reader.atEnd() ? nullptr : std::move(value);
}

// The same value, as the writer's forms allow: an absent value is a null, a typed object an
// object; numbers bit for bit, texts byte for byte.
bool sameValue(const CFlashAMFObject* a, const CFlashAMFObject* b)
{
    static const CFlashAMFNull null;
    a = a ? a : &null;
    b = b ? b : &null;
    if (a->getType() != b->getType())
        return false;
    switch (a->getType()) {
    case kAmfNumber:
        return std::memcmp(&static_cast<const CFlashAMFNumber*>(a)->value,
                           &static_cast<const CFlashAMFNumber*>(b)->value, sizeof(double)) == 0;
    case kAmfBoolean:
        return a->toBoolean() == b->toBoolean();
    case kAmfDate:
        return static_cast<const CFlashAMFDate*>(a)->timezone == static_cast<const CFlashAMFDate*>(b)->timezone;
    case kAmfString:
    case kAmfXml:
        return a->toString() == b->toString();
    case kAmfArray: {
        const auto* x = static_cast<const CFlashAMFArray*>(a);
        const auto* y = static_cast<const CFlashAMFArray*>(b);
        if (x->count() != y->count())
            return false;
        for (std::int32_t i = 0; i < x->count(); ++i) {
            if (!sameValue(x->item(i), y->item(i)))
                return false;
        }
        return true;
    }
    case kAmfAssociativeArray: {
        const auto* x = static_cast<const CFlashAMFAssociativeArray*>(a);
        const auto* y = static_cast<const CFlashAMFAssociativeArray*>(b);
        if (x->count() != y->count())
            return false;
        for (std::int32_t i = 0; i < x->count(); ++i) {
            if (x->keyAt(i) != y->keyAt(i) || !sameValue(x->valueAt(i), y->valueAt(i)))
                return false;
        }
        return true;
    }
    default:
        return true;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    heapwatch::checkProportional(size, [&] {
        CFlashAMFReader reader(data, size);
        std::vector<AmfValuePtr> values; // all held at once, as a call's arguments are
        while (!reader.atEnd() && !reader.failed()) {
            const int marker = reader.readByte();
            AmfValuePtr value = reader.readValue(marker);
            if (value) {
                (void)value->toDebugString();
                (void)value->toString();
                values.push_back(std::move(value));
            }
        }
    });

    // What decodes encodes again into a room of any size: it fits or fails, never writes
    // past the room (the buffer ends there), and never takes more than the bound by which
    // a call is encoded straight into the slot.
    CFlashAMFReader reader(data, size);
    while (!reader.atEnd() && !reader.failed()) {
        const AmfValuePtr value = reader.readValue(reader.readByte());
        if (!value)
            continue;
        const std::size_t room = size % 2 ? size : size / 4;
        const std::vector<std::uint8_t> once = encode(value.get(), room);
        if (once.size() > CFlashAMFWriter::sizeBound(value.get(), SIZE_MAX))
            std::abort();
        if (once.empty())
            continue;
        // Echoed as it came: written, read back, written and read again (each writing
        // reverses the members and elements), it is the same value, texts that are not
        // UTF-8 included.
        const AmfValuePtr back = decodeWhole(once);
        const AmfValuePtr again = back ? decodeWhole(encode(back.get(), once.size())) : nullptr;
        if (!again || !sameValue(value.get(), again.get()))
            std::abort();
    }
    return 0;
}
