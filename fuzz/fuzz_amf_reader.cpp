// Arbitrary bytes through the AMF0 value decoder, as the receive thread would meet them.
#include "HeapWatch.h"
#include "amf/AmfReader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    heapwatch::checkProportional(size, [&] {
        CFlashAMFReader reader(data, size);
        std::vector<AmfValuePtr> values;  // all held at once, as a call's arguments are
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
    return 0;
}
