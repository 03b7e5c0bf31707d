// Arbitrary section images through the receive side: recipient test, call decoding,
// consumption and the listener table scan, all bounded by the image's size.
#include "HeapWatch.h"
#include "localconnection/SectionLayout.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> image(data, data + size);
    const lc::SectionView view{image.data(), image.size()};
    if (lc::messagePresent(view) && lc::messageIsFor(view, "__qel.external.connector__")) {
        heapwatch::checkProportional(lc::messageLength(view) < size ? lc::messageLength(view) : size, [&] {
            lc::HeaderProblem problem;
            auto call = lc::deserializeRemoteCall(view, &problem);
            if (call) {
                for (const auto& value : call->getArguments())
                    (void)value->toDebugString();
            }
        });
        lc::consumeMessage(view);
    }
    const lc::TableScanResult scan = lc::findConnection(view, "__qel.external.connector__");
    if (scan.kind == lc::TableScan::EndOfTable)
        lc::appendConnection(view, scan.offset, "__qel.external.connector__");
    return 0;
}
