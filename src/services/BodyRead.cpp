#include "services/BodyRead.h"

#include <algorithm>

BodyReadEnd readBody(BodySource& source, std::vector<std::uint8_t>& chunk, SilenceWatch& watch, BodySink* sink)
{
    BodyReadEnd end;
    const auto largest = static_cast<std::uint32_t>(std::min<std::size_t>(chunk.size(), UINT32_MAX));
    if (largest == 0) {
        end.readFailed = true;
        return end;
    }
    for (;;) {
        std::uint32_t count = 0;
        if (!source.available(count)) {
            end.readFailed = true;
            break;
        }
        // A count of 0 says the body has ended: a read of one byte confirms it, and
        // waits for no more than that one byte should the count have been wrong.
        const std::uint32_t size = std::clamp<std::uint32_t>(count, 1, largest);
        std::uint32_t got = 0;
        if (!source.read(chunk.data(), size, got) || got > size) {
            end.readFailed = true;
            break;
        }
        if (got == 0)
            break;
        watch.progress();
        end.total += got;
        if (sink && !sink->write(chunk.data(), got)) {
            end.writeFailed = true;
            break;
        }
    }
    return end;
}
