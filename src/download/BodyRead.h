// The read loop of a download's body, apart from WinINet and the file, so that it runs
// against a stand-in whose reads behave as Windows documents them.
#pragma once

#include "download/SilenceWatch.h"

#include <cstdint>
#include <vector>

// Where the body comes from. Each call fails once the transfer is abandoned, and a wait
// fails once no byte has come for the request's silence limit (reask::Limits): the
// source's own bound, so the worker ends a silent request itself.
class BodySource {
public:
    virtual ~BodySource() = default;
    // Waits until bytes have come or the body has ended; `count` is how many a read
    // takes without waiting (0: the body has ended).
    virtual bool available(std::uint32_t& count) = 0;
    // Reads up to `size` bytes. On Windows a read returns only once `size` bytes have
    // come or the body has ended, however long that takes.
    virtual bool read(std::uint8_t* into, std::uint32_t size, std::uint32_t& got) = 0;
    // Reads what has come, up to `size` bytes, without waiting for more.
    virtual bool readWithoutWaiting(std::uint8_t* into, std::uint32_t size, std::uint32_t& got) = 0;
};

// Where a kept body goes.
class BodySink {
public:
    virtual ~BodySink() = default;
    virtual bool write(const std::uint8_t* bytes, std::uint32_t count) = 0;
};

struct BodyReadEnd {
    std::uint64_t total = 0; // bytes received
    bool readFailed = false; // the body ended in a failure (a cut, a silence), not at its end
    bool writeFailed = false;
};

// Reads the whole body, each read into `chunk` and no larger than it, and hands each
// batch to `sink` (none: the body is dropped). A read takes what has come, up to the
// whole chunk, and waits for nothing more; with nothing there, the loop waits for bytes
// or the end. So `watch` sees every batch as it lands, however slowly the body trickles.
BodyReadEnd readBody(BodySource& source, std::vector<std::uint8_t>& chunk, SilenceWatch& watch, BodySink* sink);
