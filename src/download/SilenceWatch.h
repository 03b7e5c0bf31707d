// Whether a transfer has gone silent: the time of its last progress, stamped by the
// thread that reads and asked by the thread that waits.
#pragma once

#include <atomic>
#include <cstdint>

class SilenceWatch {
public:
    // A millisecond clock that wraps at 2^32 (GetTickCount on Windows).
    using Clock = std::uint32_t (*)();

    // Stamped at once: the reader may not have started when the waiter first asks.
    explicit SilenceWatch(Clock clock) : clock_(clock), last_(clock()) {}

    // The reader got bytes (or began).
    void progress() { last_.store(clock_()); }

    // True when no progress came for `limitMs`. The stamp is read before the clock, and
    // the two are compared as a signed difference: a stamp the reader stores between the
    // two reads is newer than the clock read before it, which counts as progress, not as
    // four billion milliseconds of silence. Either way the clock's wrap does not matter.
    bool silentFor(std::uint32_t limitMs) const
    {
        const std::uint32_t last = last_.load();
        const std::uint32_t now = clock_();
        const auto elapsed = static_cast<std::int32_t>(now - last);
        return elapsed >= 0 && static_cast<std::uint32_t>(elapsed) >= limitMs;
    }

private:
    Clock clock_;
    std::atomic<std::uint32_t> last_;
};
