// Arbitrary bytes through the AMF0 value decoder, as the receive thread would meet them.
#include "HeapWatch.h"
#include "amf/AmfReader.h"
#include "amf/AmfWriter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

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
        std::vector<std::uint8_t> area(CFlashAMFWriter::kHeaderSize + room);
        CFlashAMFWriter writer(area.data(), room);
        writer.writeValue(value.get());
        const std::int32_t length = writer.finish();
        if (length >= 0 && static_cast<std::size_t>(length) > CFlashAMFWriter::sizeBound(value.get(), SIZE_MAX))
            std::abort();
    }
    return 0;
}
