#include "amf/AmfReader.h"

#include "amf/ByteOrder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr int kObjectEnd = 0x09;

// The bytes of `text` before its first zero, or all `length` of them. Most keys and
// strings are short: with 8 bytes of the payload left from the text, one word read at once
// answers for them, without a call (bytes past the text are read, never past the payload).
std::size_t lengthToZero(const char* text, std::size_t length, std::size_t left)
{
    if constexpr (std::endian::native == std::endian::little) {
        if (length <= 8 && left >= 8) {
            std::uint64_t word;
            std::memcpy(&word, text, 8);
            // A high bit under each zero byte, and maybe above one; the lowest is exact.
            std::uint64_t zeros = (word - 0x0101010101010101u) & ~word & 0x8080808080808080u;
            if (length < 8)
                zeros &= (std::uint64_t{1} << (8 * length)) - 1;
            return zeros ? static_cast<std::size_t>(std::countr_zero(zeros) / 8) : length;
        }
    }
    const void* zero = std::memchr(text, 0, length);
    return zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - text) : length;
}

// The time-zone field of a date is minutes, up to 720 as it stands and beyond that
// negative; the value keeps whole hours.
std::int32_t dateTimezone(int field)
{
    const int minutes = field > 720 ? field - 65536 : field;
    return minutes / 60;
}

// Keeps the nesting count right however the container's decoding ends.
class DepthGuard {
public:
    explicit DepthGuard(int& depth) : depth_(depth) { ++depth_; }
    ~DepthGuard() { --depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    int& depth_;
};

} // namespace

// Makes a pending value in its container's slot through `emplace`, which takes what a
// slot's constructor takes: each kind is made once, where it stays.
template <typename Emplace>
void CFlashAMFReader::place(PendingValue&& value, Emplace&& emplace)
{
    switch (value.kind) {
    case PendingValue::kNumber:
        emplace(std::in_place_type<CFlashAMFNumber>, value.number);
        return;
    case PendingValue::kBoolean:
        emplace(std::in_place_type<CFlashAMFBoolean>, value.boolean);
        return;
    case PendingValue::kNull:
        emplace(std::in_place_type<CFlashAMFNull>);
        return;
    case PendingValue::kDate:
        emplace(std::in_place_type<CFlashAMFDate>, value.number, value.timezone);
        return;
    case PendingValue::kText:
        emplace(std::in_place_type<CFlashAMFString>, std::in_place, value.text, std::size_t{value.textLength});
        return;
    case PendingValue::kMade:
        emplace(std::move(value.made));
        return;
    }
}

CFlashAMFReader::CFlashAMFReader(const void* start, std::size_t length)
    : next_(static_cast<const std::uint8_t*>(start)), end_(next_ + length)
{
}

void CFlashAMFReader::fail()
{
    failed_ = true;
    next_ = end_;
}

bool CFlashAMFReader::take(std::size_t n)
{
    if (failed_ || remaining() < n) {
        fail();
        return false;
    }
    return true;
}

int CFlashAMFReader::readByte()
{
    if (!take(1))
        return 0;
    return *next_++;
}

int CFlashAMFReader::readUInt16()
{
    if (!take(2))
        return 0;
    const int value = byteorder::loadBig16(next_);
    next_ += 2;
    return value;
}

std::uint32_t CFlashAMFReader::readUInt32()
{
    if (!take(4))
        return 0;
    const std::uint32_t value = byteorder::loadBig32(next_);
    next_ += 4;
    return value;
}

double CFlashAMFReader::readDouble()
{
    if (!take(8))
        return 0.0;
    const double value = byteorder::bitsDouble(byteorder::loadBig64(next_));
    next_ += 8;
    return value;
}

bool CFlashAMFReader::readBytes(void* destination, std::size_t n)
{
    if (!take(n))
        return false;
    std::memcpy(destination, next_, n);
    next_ += n;
    return true;
}

std::string_view CFlashAMFReader::readTextView(std::size_t length)
{
    if (!take(length))
        return {};
    const char* text = reinterpret_cast<const char*>(next_);
    const std::size_t left = remaining();
    next_ += length;
    // The text is the wire's UTF-8 as it came, up to its first zero byte (what Flash
    // content sees of such a string); all `length` bytes are consumed anyway.
    return std::string_view(text, lengthToZero(text, length, left));
}

std::string CFlashAMFReader::readShortString()
{
    const int length = readUInt16();
    return failed_ ? std::string() : std::string(readTextView(static_cast<std::size_t>(length)));
}

std::string CFlashAMFReader::readLongString()
{
    const std::uint32_t length = readUInt32();
    return failed_ ? std::string() : std::string(readTextView(length));
}

CFlashAMFReader::PendingValue CFlashAMFReader::readPending(int marker)
{
    PendingValue value;
    switch (marker) {
    case 0x00:
        value.kind = PendingValue::kNumber;
        value.number = readDouble();
        break;
    case 0x01:
        value.kind = PendingValue::kBoolean;
        value.boolean = readByte() == 1;
        break;
    case 0x02: {
        const int length = readUInt16();
        const std::string_view text = failed_ ? std::string_view() : readTextView(static_cast<std::size_t>(length));
        value.kind = PendingValue::kText;
        value.text = text.data();
        value.textLength = static_cast<std::uint32_t>(text.size());
        break;
    }
    case 0x05:
    case 0x06:
        value.kind = PendingValue::kNull;
        break;
    case 0x0B:
        value.kind = PendingValue::kDate;
        value.number = readDouble();
        value.timezone = dateTimezone(readUInt16());
        break;
    default:
        value.made = readValue(marker);
        break;
    }
    return value;
}

AmfValuePtr CFlashAMFReader::readMembers(std::string* className)
{
    const std::size_t first = pendingMembers_.size();
    const auto drop = [&] {
        pendingMembers_.erase(pendingMembers_.begin() + static_cast<std::ptrdiff_t>(first), pendingMembers_.end());
    };
    for (;;) {
        const int keyLength = readUInt16();
        const std::string_view key = failed_ ? std::string_view() : readTextView(static_cast<std::size_t>(keyLength));
        const int marker = readByte();
        if (failed_) {
            drop();
            return nullptr;
        }
        if (marker == kObjectEnd) {
            // Made now that its count is known, with its members in the same allocation.
            const std::size_t count = pendingMembers_.size() - first;
            std::unique_ptr<CFlashAMFAssociativeArray> container;
            if (className)
                container = makeWithRoom<CFlashAMFClass>(count, std::move(*className));
            else
                container = makeWithRoom<CFlashAMFAssociativeArray>(count);
            for (std::size_t i = first; i < pendingMembers_.size(); ++i) {
                PendingMember& member = pendingMembers_[i];
                const std::string_view key(member.key, member.keyLength);
                place(std::move(member.value),
                      [&](auto&&... slot) { container->emplaceMember(key, std::forward<decltype(slot)>(slot)...); });
            }
            drop();
            return container;
        }
        // Grown by half, not doubled: while it moves, the old and the new room are both held.
        if (pendingMembers_.size() == pendingMembers_.capacity())
            pendingMembers_.reserve(pendingMembers_.size() + pendingMembers_.size() / 2 + 8);
        pendingMembers_.emplace_back(key, readPending(marker)); // a failed value is dropped below
        if (failed_) {
            drop();
            return nullptr;
        }
    }
}

AmfValuePtr CFlashAMFReader::readStrictArray()
{
    // A negative count is an empty array.
    const std::int32_t count = std::max<std::int32_t>(static_cast<std::int32_t>(readUInt32()), 0);
    if (failed_)
        return nullptr;
    // Every element still owed, here and by the arrays around this one, takes at least
    // its marker byte: a count the bytes left cannot hold fails now, before any room is
    // reserved, so the room reserved by all open arrays never exceeds the bytes left.
    const auto wanted = static_cast<std::size_t>(count);
    if (wanted > remaining() || elementsOwed_ > remaining() - wanted) {
        fail();
        return nullptr;
    }
    auto array = makeWithRoom<CFlashAMFArray>(wanted);
    elementsOwed_ += wanted;
    for (std::size_t i = 0; i < wanted && !failed_; ++i) {
        --elementsOwed_; // this element's bytes are being read now
        const int marker = readByte();
        if (failed_)
            break;
        PendingValue value = readPending(marker);
        if (failed_)
            break;
        place(std::move(value), [&](auto&&... slot) { array->emplaceItem(std::forward<decltype(slot)>(slot)...); });
    }
    return failed_ ? nullptr : std::move(array);
}

AmfValuePtr CFlashAMFReader::readValue(int marker)
{
    if (failed_)
        return nullptr;
    switch (marker) {
    case 0x00: {
        const double value = readDouble();
        return failed_ ? nullptr : std::make_unique<CFlashAMFNumber>(value);
    }
    case 0x01: {
        const int byte = readByte();
        return failed_ ? nullptr : std::make_unique<CFlashAMFBoolean>(byte == 1);
    }
    case 0x02: {
        std::string text = readShortString();
        return failed_ ? nullptr : std::make_unique<CFlashAMFString>(std::move(text));
    }
    case 0x05:
    case 0x06:
        return std::make_unique<CFlashAMFNull>();
    case 0x0B: {
        const double time = readDouble();
        const int field = readUInt16();
        return failed_ ? nullptr : std::make_unique<CFlashAMFDate>(time, dateTimezone(field));
    }
    case 0x0F: {
        std::string text = readLongString();
        return failed_ ? nullptr : std::make_unique<CFlashAMFXml>(std::move(text));
    }
    case 0x03:
    case 0x08:
    case 0x0A:
    case 0x10:
        break;
    default:
        return nullptr; // unsupported: absent, and nothing after the marker is consumed
    }

    if (depth_ >= kMaxDepth) {
        fail();
        return nullptr;
    }
    DepthGuard guard(depth_);
    switch (marker) {
    case 0x03:
        return readMembers(nullptr);
    case 0x08:
        readUInt32(); // the element count of an ECMA array is not needed
        return failed_ ? nullptr : readMembers(nullptr);
    case 0x0A:
        return readStrictArray();
    default: {
        std::string className = readShortString();
        return failed_ ? nullptr : readMembers(&className);
    }
    }
}
