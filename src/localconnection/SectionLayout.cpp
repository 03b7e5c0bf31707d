#include "localconnection/SectionLayout.h"

#include "amf/AmfReader.h"
#include "amf/AmfWriter.h"
#include "amf/TextEncoding.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace lc {

namespace {

std::uint32_t load32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

void store32(std::uint8_t* p, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

bool hasHeader(SectionView view)
{
    return view.data && view.size >= kBodyOffset;
}

} // namespace

TableScanResult findConnection(SectionView view, std::string_view name)
{
    if (!view.data)
        return {TableScan::NoView, 0};
    const std::size_t limit = std::min(view.size, kTableLimit);
    std::size_t offset = kTableOffset;
    while (offset < limit) {
        const char* entry = reinterpret_cast<const char*>(view.data + offset);
        if (*entry == '\0')
            return {TableScan::EndOfTable, offset};
        const void* zero = std::memchr(entry, 0, limit - offset);
        if (!zero)
            break;  // an entry running to the end of the view: no terminator, no room
        const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(zero) - entry);
        if (std::string_view(entry, length) == name)
            return {TableScan::Found, offset};
        offset += length + 1;
    }
    return {TableScan::NoRoom, 0};
}

bool appendConnection(SectionView view, std::size_t offset, std::string_view name)
{
    if (!view.data || offset < kTableOffset || offset >= kTableLimit)
        return false;
    if (offset + name.size() + 1 > view.size)
        return false;
    std::memcpy(view.data + offset, name.data(), name.size());
    view.data[offset + name.size()] = 0;
    return true;
}

std::uint32_t messageLength(SectionView view)
{
    return hasHeader(view) ? load32(view.data + kLengthOffset) : 0;
}

bool messagePresent(SectionView view)
{
    return view.data && view.size > kBodyOffset && view.data[kBodyOffset] != 0;
}

bool messageIsFor(SectionView view, std::string_view name)
{
    const std::size_t nameStart = kBodyOffset + 3;
    // The marker byte is not looked at: a message whose first field is not a string but
    // whose length and bytes name us is ours, and we are the ones who must take it out.
    if (!messagePresent(view) || view.size < nameStart)
        return false;
    // The recipient goes out as UTF-8 (as every header string); compare it in that form.
    const std::string wanted = ansiToUtf8(name);
    const std::size_t length = (std::size_t{view.data[kBodyOffset + 1]} << 8) | view.data[kBodyOffset + 2];
    if (length != wanted.size() || nameStart + length > view.size)
        return false;
    return std::memcmp(view.data + nameStart, wanted.data(), length) == 0;
}

void consumeMessage(SectionView view)
{
    if (!hasHeader(view))
        return;
    store32(view.data + kTimestampOffset, 0);
    store32(view.data + kLengthOffset, 0);
    if (view.size > kBodyOffset)
        view.data[kBodyOffset] = 0;
}

std::size_t bodyRoom(SectionView view)
{
    return hasHeader(view) ? std::min(kBodyRoom, view.size - kBodyOffset) : 0;
}

WriteOutcome writeCall(SectionView view, std::string_view recipient, std::string_view method,
                       const CFlashLocalConnectionCall* call, std::uint32_t timestamp)
{
    if (!hasHeader(view) || messageLength(view) != 0)
        return WriteOutcome::SlotBusy;

    // Encode aside first: a call that does not fit must leave the section as it was.
    const std::size_t room = bodyRoom(view);
    std::vector<std::uint8_t> message(CFlashAMFWriter::kHeaderSize + room);
    CFlashAMFWriter writer(message.data(), room);
    writer.writeStringValue(recipient);
    writer.writeStringValue(kDomain);
    writer.writeStringValue(method);
    if (call) {
        const auto& arguments = call->getArguments();
        for (auto it = arguments.rbegin(); it != arguments.rend(); ++it)
            writer.writeValue(it->get());
    }
    const std::int32_t length = writer.finish();
    if (length < 0)
        return WriteOutcome::TooLarge;

    store32(view.data + kTimestampOffset, timestamp);
    std::memcpy(view.data + kBodyOffset, message.data() + kBodyOffset, static_cast<std::size_t>(length));
    store32(view.data + kLengthOffset, static_cast<std::uint32_t>(length));
    return WriteOutcome::Written;
}

std::unique_ptr<CFlashLocalConnectionCall> deserializeRemoteCall(SectionView view, HeaderProblem* problem)
{
    const std::uint32_t length = messageLength(view);
    if (length == 0 || length > bodyRoom(view))
        return nullptr;
    CFlashAMFReader reader(view.data + kBodyOffset, length);
    std::string header;
    for (int field = 0; field < 3; ++field) {
        const int marker = reader.readByte();
        if (reader.failed())
            return nullptr;
        if (marker != 0x02) {
            if (problem)
                *problem = {true, marker};
            return nullptr;
        }
        header = reader.readShortString();  // recipient and domain are not kept
        if (reader.failed())
            return nullptr;
    }
    auto call = std::make_unique<CFlashLocalConnectionCall>(header);
    while (!reader.atEnd()) {
        const int marker = reader.readByte();
        call->addArgument(reader.readValue(marker), true);
        if (reader.failed())
            return nullptr;
    }
    return call;
}

} // namespace lc
