// Arbitrary bytes through the AMF0 value decoder, as the receive thread would meet them.
#include "amf/AmfReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CFlashAMFReader reader(data, size);
    while (!reader.atEnd() && !reader.failed()) {
        const int marker = reader.readByte();
        AmfValuePtr value = reader.readValue(marker);
        if (value) {
            (void)value->toDebugString();
            (void)value->toString();
        }
    }
    return 0;
}
