// The Flash Player's LocalConnection section as the launcher sees it: a message slot
// (timestamp at 8, length at 12, body from 16) and a listener table of zero-terminated
// names from 0xA010. Every access is bounded by the fixed offsets and by the size of
// the mapped view, so a smaller section is never read or written past its end.
#pragma once

#include "localconnection/FlashLocalConnectionCall.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace lc {

// The Flash Player creates and owns both objects; the launcher only opens them.
constexpr char kMutexName[] = "MacromediaMutexOmega";
constexpr char kSectionName[] = "MacromediaFMOmega";

constexpr std::size_t kTimestampOffset = 8;
constexpr std::size_t kLengthOffset = 12;
constexpr std::size_t kBodyOffset = 16;
constexpr std::size_t kTableOffset = 0xA010;
constexpr std::size_t kTableLimit = 0xFFFF;
constexpr std::size_t kBodyRoom = kTableOffset - kBodyOffset; // 40960
constexpr std::size_t kMaxNameLength = 255;
constexpr char kDomain[] = "localhost";

struct SectionView {
    std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

enum class TableScan { Found, EndOfTable, NoRoom, NoView };

struct TableScanResult {
    TableScan kind;
    std::size_t offset; // where a name can be appended, for EndOfTable
};

TableScanResult findConnection(SectionView view, std::string_view name);
// Writes the name and its zero at `offset`; false when it does not fit the view.
bool appendConnection(SectionView view, std::size_t offset, std::string_view name);

std::uint32_t messageLength(SectionView view);
// A message is in the slot when its length is not zero, whatever its first byte: one
// whose first byte is zero would otherwise block the slot for every LocalConnection.
bool messagePresent(SectionView view);
// The recipient field of the message equals `name` exactly (both length bytes, then the
// bytes), whatever its marker byte.
bool messageIsFor(SectionView view, std::string_view name);
// Frees the slot: timestamp and length zero, presence mark zero.
void consumeMessage(SectionView view);
// Room of the body in this view: 40960 bytes, or less in a smaller section.
std::size_t bodyRoom(SectionView view);

enum class WriteOutcome { Written, SlotBusy, TooLarge };

// Writes a call for `recipient` into a free slot: the body (recipient, "localhost",
// method, arguments last to first), then the timestamp, the length last. A busy slot
// or a call that does not fit the body room leaves the section unchanged.
WriteOutcome writeCall(SectionView view, std::string_view recipient, std::string_view method,
                       const CFlashLocalConnectionCall* call, std::uint32_t timestamp);

// What made a received message fail its header test: the marker found instead of a string.
struct HeaderProblem {
    bool found = false;
    int marker = 0;
};

// Decodes the message in the slot into a new record. None when the slot is empty, when
// a header field is not an AMF0 string (reported in `problem`), or when the body does not
// decode completely (runs past its length or nests too deep).
std::unique_ptr<CFlashLocalConnectionCall> deserializeRemoteCall(SectionView view, HeaderProblem* problem);

} // namespace lc
