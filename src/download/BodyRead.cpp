#include "download/BodyRead.h"

#include <algorithm>

BodyReadEnd readBody(BodySource& source, std::vector<std::uint8_t>& chunk, SilenceWatch& watch, BodySink* sink)
{
    BodyReadEnd end;
    const auto largest = static_cast<std::uint32_t>(std::min<std::size_t>(chunk.size(), UINT32_MAX));
    if (largest == 0) {
        end.readFailed = true;
        return end;
    }
    std::uint32_t said = 0; // bytes the last query said have come, which no read took yet
    for (;;) {
        std::uint32_t got = 0;
        bool read = source.readWithoutWaiting(chunk.data(), largest, got);
        if (read && got == 0 && said == 0) {
            read = source.available(said); // nothing there: wait for bytes or the end
            if (read && said > 0)
                continue;
        }
        // Said to have come yet not taken (or the end, said 0): a read that waits for no
        // more than was said. One byte confirms the end.
        if (read && got == 0)
            read = source.read(chunk.data(), std::clamp<std::uint32_t>(said, 1, largest), got);
        said = 0;
        if (!read || got > largest) {
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
