// The download's read loop and its silence watch, on a simulated millisecond clock: a
// stand-in body whose reads block until their buffer is full, as Windows documents
// them, and a watcher that cuts the transfer the way the waiting thread does.
#include "download/BodyRead.h"
#include "download/Reask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

constexpr std::uint32_t kSilenceMs = reask::Limits::kSilenceMs;

std::uint32_t gNow = 0;
std::function<void()> gOnRead; // runs once, inside the next reading of the clock

std::uint32_t fakeClock()
{
    if (gOnRead) {
        const auto hook = std::move(gOnRead);
        gOnRead = nullptr;
        const std::uint32_t read = gNow;
        hook();
        return read;
    }
    return gNow;
}

std::uint8_t bodyByte(std::uint64_t at)
{
    return static_cast<std::uint8_t>(at * 131 + (at >> 13));
}

// A body of `burst` bytes at once, then `trickle` bytes a second for `trickleSeconds`,
// then its end (or, `endless`, nothing more and no end). Each wait moves the clock on in
// 100 ms steps, and every 500 ms the watcher asks the watch as the waiting thread does:
// once silent, every later call fails.
class TrickleBody : public BodySource, public BodySink {
public:
    TrickleBody(SilenceWatch& watch, std::uint64_t burst, std::uint64_t trickle, std::uint32_t trickleSeconds,
                bool endless = false)
        : watch_(watch), start_(gNow), burst_(burst), trickle_(trickle), trickleSeconds_(trickleSeconds),
          endless_(endless)
    {
    }

    std::uint64_t size() const { return burst_ + trickle_ * trickleSeconds_; }

    bool available(std::uint32_t& count) override
    {
        if (!waitFor(1))
            return false;
        count = static_cast<std::uint32_t>(std::min<std::uint64_t>(arrived() - consumed_, UINT32_MAX));
        return true;
    }

    bool read(std::uint8_t* into, std::uint32_t size, std::uint32_t& got) override
    {
        return waitFor(size) && take(into, size, got);
    }

    bool readWithoutWaiting(std::uint8_t* into, std::uint32_t size, std::uint32_t& got) override
    {
        return !cut_ && take(into, size, got);
    }

    bool write(const std::uint8_t* bytes, std::uint32_t count) override
    {
        for (std::uint32_t i = 0; i < count; ++i)
            if (bytes[i] != bodyByte(written_ + i))
                return false;
        written_ += count;
        return true;
    }

    bool cut_ = false;
    std::uint32_t largestRead_ = 0;
    std::uint64_t written_ = 0;

private:
    std::uint64_t arrived() const
    {
        const std::uint64_t seconds = (gNow - start_) / 1000;
        return burst_ + trickle_ * std::min<std::uint64_t>(seconds, trickleSeconds_);
    }

    bool take(std::uint8_t* into, std::uint32_t size, std::uint32_t& got)
    {
        got = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, arrived() - consumed_));
        for (std::uint32_t i = 0; i < got; ++i)
            into[i] = bodyByte(consumed_ + i);
        consumed_ += got;
        largestRead_ = std::max(largestRead_, got);
        return true;
    }

    // Blocks until `count` more bytes have come or the body has ended.
    bool waitFor(std::uint64_t count)
    {
        while (!cut_ && arrived() - consumed_ < count && (endless_ || arrived() < size())) {
            gNow += 100;
            if ((gNow - start_) % 500 == 0 && watch_.silentFor(kSilenceMs))
                cut_ = true;
        }
        return !cut_;
    }

    SilenceWatch& watch_;
    const std::uint32_t start_;
    const std::uint64_t burst_;
    const std::uint64_t trickle_;
    const std::uint32_t trickleSeconds_;
    const bool endless_;
    std::uint64_t consumed_ = 0;
};

// A fast start, then a link that slows to a trickle: every byte arrives, none is taken
// for silence, and the fast part still goes in reads as large as the buffer.
TEST(BodyRead, ABodyThatSlowsToATrickleArrivesWhole)
{
    gNow = 5000000;
    SilenceWatch watch(fakeClock);
    std::vector<std::uint8_t> chunk(1024 * 1024);
    TrickleBody body(watch, 6000000, 2048, 90);
    const BodyReadEnd end = readBody(body, chunk, watch, &body);
    EXPECT_FALSE(body.cut_);
    EXPECT_FALSE(end.readFailed);
    EXPECT_FALSE(end.writeFailed);
    EXPECT_EQ(end.total, body.size());
    EXPECT_EQ(body.written_, body.size());
    EXPECT_EQ(body.largestRead_, chunk.size());
}

// A body that stops for good is cut once the silence lasts, and what came is kept.
TEST(BodyRead, ABodyThatStopsIsCutAfterTheSilence)
{
    gNow = 0;
    SilenceWatch watch(fakeClock);
    std::vector<std::uint8_t> chunk(64);
    TrickleBody body(watch, 1000, 0, 0, true);
    const BodyReadEnd end = readBody(body, chunk, watch, nullptr);
    EXPECT_TRUE(body.cut_);
    EXPECT_TRUE(end.readFailed);
    EXPECT_EQ(end.total, 1000u);
}

TEST(SilenceWatch, TellsSilenceOnlyPastTheLimitWhateverTheClock)
{
    constexpr std::uint32_t kLimit = 60000;
    // Made on a machine up for days: not silent before any progress came.
    gNow = 5000000;
    SilenceWatch fresh(fakeClock);
    EXPECT_FALSE(fresh.silentFor(kLimit));

    // The reader stamps a newer tick between the watcher's two reads.
    gNow = 7000000;
    SilenceWatch racing(fakeClock);
    gNow += 10;
    gOnRead = [&] {
        gNow += 1;
        racing.progress();
    };
    EXPECT_FALSE(racing.silentFor(kLimit));
    EXPECT_FALSE(racing.silentFor(kLimit)) << "the newer stamp is progress";

    // Across the clock's wrap at 2^32.
    gNow = 0xFFFFFFFFu - 1000;
    SilenceWatch wrapping(fakeClock);
    gNow += kLimit - 1;
    EXPECT_FALSE(wrapping.silentFor(kLimit));
    gNow += 1;
    EXPECT_TRUE(wrapping.silentFor(kLimit));
    wrapping.progress();
    EXPECT_FALSE(wrapping.silentFor(kLimit));
}

} // namespace
