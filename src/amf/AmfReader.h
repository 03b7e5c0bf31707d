// A cursor over an AMF0 payload: primitives and one recursive value decoder.
// Every read is checked against the end; a read past it, or nesting deeper than
// kMaxDepth, marks the reader failed, moves it to the end and yields 0, "" or absent.
#pragma once

#include "amf/AmfValues.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CFlashAMFReader {
public:
    static constexpr int kMaxDepth = 64;
    // What a decoded value tree holds on the heap, at most, for each byte of its body: a
    // count is never trusted for room, so each value costs bytes that its body carries.
    // The bound of the transport's queue, the tests and the fuzzers read it.
    static constexpr std::size_t kMaxHeapPerBodyByte = 64;

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
    bool take(std::size_t n);
    void fail();
    std::string readText(std::size_t length);
    AmfValuePtr readMembers(std::unique_ptr<CFlashAMFAssociativeArray> container);
    AmfValuePtr readStrictArray();

    const std::uint8_t* next_;
    const std::uint8_t* end_;
    bool failed_ = false;
    int depth_ = 0;
    // Elements that the strict arrays being read have yet to read.
    std::size_t elementsOwed_ = 0;
    // Members of the containers being read, innermost last: each container takes its
    // own in one exact allocation when it ends, instead of growing a vector member by member.
    std::vector<CFlashAMFAssociativeArray::Member> pendingMembers_;
};
