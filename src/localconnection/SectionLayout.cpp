#include "localconnection/SectionLayout.h"

#include "amf/AmfReader.h"
#include "amf/AmfWriter.h"
#include "amf/ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace lc {

// The writer's message area is the slot itself: its header is the slot's header.
static_assert(CFlashAMFWriter::kHeaderSize == kBodyOffset, "the writer's body starts where the slot's does");
static_assert(CFlashAMFWriter::kLengthOffset == kLengthOffset, "the writer stores the length where the slot keeps it");

namespace {

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
            break; // an entry running to the end of the view: no terminator, no room
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
    return hasHeader(view) ? byteorder::loadLittle32(view.data + kLengthOffset) : 0;
}

bool messagePresent(SectionView view)
{
    return messageLength(view) != 0 && view.size > kBodyOffset;
}

bool messageIsFor(SectionView view, std::string_view name)
{
    const std::size_t nameStart = kBodyOffset + 3;
    // The marker byte is not looked at: a message whose first field is not a string but
    // whose length and bytes name us is ours, and we are the ones who must take it out.
    if (!messagePresent(view) || view.size < nameStart)
        return false;
    // Names are UTF-8 inside as on the wire: compared as the bytes they are.
    const std::size_t length = byteorder::loadBig16(view.data + kBodyOffset + 1);
    if (length != name.size() || nameStart + length > view.size)
        return false;
    return std::memcmp(view.data + nameStart, name.data(), length) == 0;
}

void consumeMessage(SectionView view)
{
    if (!hasHeader(view))
        return;
    byteorder::storeLittle32(view.data + kTimestampOffset, 0);
    byteorder::storeLittle32(view.data + kLengthOffset, 0);
    if (view.size > kBodyOffset)
        view.data[kBodyOffset] = 0;
}

std::size_t bodyRoom(SectionView view)
{
    return hasHeader(view) ? std::min(kBodyRoom, view.size - kBodyOffset) : 0;
}

namespace {

void encodeCall(CFlashAMFWriter& writer, std::string_view recipient, std::string_view method,
                const CFlashLocalConnectionCall* call)
{
    writer.writeStringValue(recipient);
    writer.writeStringValue(kDomain);
    writer.writeStringValue(method);
    if (call) {
        const auto& arguments = call->getArguments();
        for (auto it = arguments.rbegin(); it != arguments.rend() && !writer.failed(); ++it)
            writer.writeValue(it->get());
    }
}

std::size_t callSizeBound(std::string_view recipient, std::string_view method, const CFlashLocalConnectionCall* call,
                          std::size_t limit)
{
    std::size_t total = CFlashAMFWriter::stringValueBound(recipient) + CFlashAMFWriter::stringValueBound(kDomain) +
                        CFlashAMFWriter::stringValueBound(method);
    if (call) {
        for (const AmfValuePtr& argument : call->getArguments()) {
            if (total > limit)
                break;
            total += CFlashAMFWriter::sizeBound(argument.get(), limit);
        }
    }
    return total;
}

} // namespace

WriteOutcome writeCall(SectionView view, std::string_view recipient, std::string_view method,
                       const CFlashLocalConnectionCall* call, std::uint32_t timestamp)
{
    if (!hasHeader(view) || messageLength(view) != 0)
        return WriteOutcome::SlotBusy;

    const std::size_t room = bodyRoom(view);
    if (callSizeBound(recipient, method, call, room) <= room) {
        // Sure to fit: encoded straight into the free slot. Its length stays 0 until
        // the body is complete, and the mutex keeps every peer out meanwhile.
        CFlashAMFWriter writer(view.data, room);
        encodeCall(writer, recipient, method, call);
        if (!writer.failed()) {
            byteorder::storeLittle32(view.data + kTimestampOffset, timestamp);
            writer.finish();
            return WriteOutcome::Written;
        }
    }

    // It may not fit: encoded aside first, so that a call too large leaves the section as it was.
    std::vector<std::uint8_t> message(CFlashAMFWriter::kHeaderSize + room);
    CFlashAMFWriter writer(message.data(), room);
    encodeCall(writer, recipient, method, call);
    const std::int32_t length = writer.finish();
    if (length < 0)
        return WriteOutcome::TooLarge;
    byteorder::storeLittle32(view.data + kTimestampOffset, timestamp);
    std::memcpy(view.data + kBodyOffset, message.data() + kBodyOffset, static_cast<std::size_t>(length));
    byteorder::storeLittle32(view.data + kLengthOffset, static_cast<std::uint32_t>(length));
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
        header = reader.readShortString(); // recipient and domain are not kept
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
