// The re-ask policy's reading of a response: which body a 206 continues, which If-Range
// proves it the same, and how long a busy server asks to be left alone.
#include "download/Reask.h"

#include <gtest/gtest.h>

namespace {

using reask::Fit;

TEST(Reask, ARangeIsAppendedOnlyWhereItContinuesTheSameBody)
{
    constexpr std::uint64_t kFrom = 3000;
    constexpr std::uint64_t kTotal = 8000;
    const struct {
        int status;
        std::uint64_t from;
        const char* range;
        Fit fit;
    } rows[] = {
        {206, kFrom, "bytes 3000-7999/8000", Fit::Append},
        {200, kFrom, "", Fit::StartOver},                    // the range ignored, or the file changed
        {206, kFrom, "bytes 2000-7999/8000", Fit::AskWhole}, // another start
        {206, kFrom, "bytes 3000-8999/9000", Fit::AskWhole}, // another total
        {206, kFrom, "bytes 3000-3999/8000", Fit::AskWhole}, // not to the end
        {206, kFrom, "bytes */8000", Fit::AskWhole},
        {416, kFrom, "", Fit::AskWhole},
        {206, 0, "bytes 0-7999/8000", Fit::Other}, // asked whole: answered as the first request's
        {304, kFrom, "", Fit::Other},
    };
    for (const auto& row : rows)
        EXPECT_EQ(reask::fitOf(row.status, row.from, kTotal, reask::parseContentRange(row.range)), row.fit)
            << row.status << " " << row.range;
    EXPECT_FALSE(reask::parseContentRange("bytes 3000-2999/8000"));
    EXPECT_FALSE(reask::parseContentRange("bytes 3000-99999999999999999999/8000"));
}

TEST(Reask, OnlyAStrongEtagOrADateProvesTheBodyTheSame)
{
    EXPECT_EQ(reask::validatorOf(" \"v1\" ", "Sun, 09 Sep 2001 01:46:40 GMT"), "\"v1\"");
    EXPECT_EQ(reask::validatorOf("W/\"v1\"", "Sun, 09 Sep 2001 01:46:40 GMT"), "Sun, 09 Sep 2001 01:46:40 GMT");
    EXPECT_EQ(reask::validatorOf("W/\"v1\"", ""), "");
}

TEST(Reask, ABusyServerIsLeftAloneAsLongAsItAsksUpToTheLimit)
{
    const auto& pauses = reask::kPausesMs;
    const std::int64_t now = *reask::parseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(now, 784111777);
    const auto pause = [&](const char* retryAfter, int reask = 1) {
        return reask::busyPauseMs(pauses, reask, retryAfter, now, reask::kMaxRetryAfterMs);
    };
    EXPECT_EQ(pause("7"), 7000u);
    EXPECT_EQ(pause("Sun, 06 Nov 1994 08:49:47 GMT"), 10000u);
    EXPECT_EQ(pause("Sun, 06 Nov 1994 08:49:00 GMT"), 0u); // already past
    EXPECT_EQ(pause(std::to_string(reask::kMaxRetryAfterMs / 1000).c_str()), reask::kMaxRetryAfterMs);
    // Too long, absent or unreadable: about 1 s, then 2 s.
    EXPECT_EQ(pause(std::to_string(reask::kMaxRetryAfterMs / 1000 + 1).c_str()), pauses[1]);
    EXPECT_EQ(pause(""), pauses[1]);
    EXPECT_EQ(pause("soon", 2), pauses[2]);
    EXPECT_EQ(pause("Sun, 06 Nov 1994 25:49:47 GMT", 3), pauses[2]);
    EXPECT_EQ(reask::cutPauseMs(pauses, 1), pauses[0]);
}

} // namespace
