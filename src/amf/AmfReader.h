// A cursor over an AMF0 payload: primitives and one recursive value decoder.
// Every read is checked against the end; a read past it, or nesting deeper than
// kMaxDepth, marks the reader failed, moves it to the end and yields 0, "" or absent.
#pragma once

#include "amf/AmfValues.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The heap a decoded body may hold, per byte of the body: the reader reserves no room from
// a count, so what it holds grows only with the bytes it has read. decode_memory_tests and
// the fuzz targets hold it to this; the receive side's bound on pending bodies
// (CFlashLocalConnection::kMaxPendingBodyBytes) bounds their memory through it.
constexpr std::size_t kMaxHeapPerBodyByte = 64;

class CFlashAMFReader {
public:
    static constexpr int kMaxDepth = 64;

    CFlashAMFReader(const void* start, std::size_t length);

    bool atEnd() const { return next_ >= end_; }
    // True once a read ran past the end or nesting was too deep: the decoding is broken.
    bool failed() const { return failed_; }
    std::size_t remaining() const { return static_cast<std::size_t>(end_ - next_); }

    int readByte();
    int readUInt16();
    std::uint32_t readUInt32();
    double readDouble();
    bool readBytes(void* destination, std::size_t n);
    std::string readShortString();
    std::string readLongString();
    // Decodes the body of one value whose marker the caller has consumed.
    AmfValuePtr readValue(int marker);

private:
    // A container's element or member read but not yet in its slot: a number, a boolean, a
    // date or a string's text (still in the payload) as it came, any other kind made already.
    struct PendingValue {
        enum Kind : std::uint8_t { kNumber, kBoolean, kNull, kDate, kText, kMade };
        Kind kind = kMade;
        union {
            std::uint32_t textLength;
            std::int32_t timezone;
        };
        union {
            double number; // a date's time too
            bool boolean;
            const char* text;
        };
        AmfValuePtr made; // kMade: the value, or none for an absent one
    };
    // A member read, its key still in the payload: the container makes the key's string,
    // and the value in its slot, only once it has its exact room.
    struct PendingMember {
        PendingMember(std::string_view key, PendingValue&& value)
            : key(key.data()), keyLength(static_cast<std::uint16_t>(key.size())), value(std::move(value))
        {
        }
        const char* key;
        std::uint16_t keyLength;
        PendingValue value;
    };

    bool take(std::size_t n);
    void fail();
    // The next `length` bytes, up to their first zero, as a view into the payload.
    std::string_view readTextView(std::size_t length);
    // A container's element or member, made only as far as a slot cannot hold it.
    PendingValue readPending(int marker);
    template <typename Emplace>
    static void place(PendingValue&& value, Emplace&& emplace);
    // An object's members up to its end; a typed object when `className` is given.
    AmfValuePtr readMembers(std::string* className);
    AmfValuePtr readStrictArray();

    const std::uint8_t* next_;
    const std::uint8_t* end_;
    bool failed_ = false;
    int depth_ = 0;
    // Elements that the strict arrays being read have yet to read.
    std::size_t elementsOwed_ = 0;
    // Members of the containers being read, innermost last: each container takes its
    // own in one exact allocation when it ends, instead of growing a vector member by member.
    std::vector<PendingMember> pendingMembers_;
};
