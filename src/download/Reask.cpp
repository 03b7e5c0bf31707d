#include "download/Reask.h"

#include <algorithm>
#include <limits>

namespace reask {
namespace {

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Leading decimal digits taken off `text`; none when there are none or they pass 64 bits.
std::optional<std::uint64_t> takeNumber(std::string_view& text)
{
    std::size_t digits = 0;
    std::uint64_t value = 0;
    for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
        const auto digit = static_cast<std::uint64_t>(text[digits] - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    if (digits == 0)
        return std::nullopt;
    text.remove_prefix(digits);
    return value;
}

bool take(std::string_view& text, std::string_view expected)
{
    if (text.substr(0, expected.size()) != expected)
        return false;
    text.remove_prefix(expected.size());
    return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

} // namespace

bool isBusy(int status)
{
    return status == 502 || status == 503 || status == 504;
}

std::string validatorOf(std::string_view etag, std::string_view lastModified)
{
    etag = trimmed(etag);
    if (etag.size() >= 2 && etag.front() == '"' && etag.back() == '"')
        return std::string(etag);
    return std::string(trimmed(lastModified));
}

std::optional<ContentRange> parseContentRange(std::string_view text)
{
    text = trimmed(text);
    ContentRange range;
    if (!take(text, "bytes "))
        return std::nullopt;
    const auto first = takeNumber(text);
    if (!first || !take(text, "-"))
        return std::nullopt;
    const auto last = takeNumber(text);
    if (!last || !take(text, "/"))
        return std::nullopt;
    const auto total = takeNumber(text);
    if (!total || !text.empty() || *first > *last || *last >= *total)
        return std::nullopt;
    range.first = *first;
    range.last = *last;
    range.total = *total;
    return range;
}

Fit fitOf(int status, std::uint64_t from, std::uint64_t total, std::optional<ContentRange> range)
{
    if (status == 200)
        return Fit::StartOver;
    if (from == 0 || (status != 206 && status != 416))
        return Fit::Other;
    if (status == 206 && range && range->first == from && range->total == total && range->last + 1 == total)
        return Fit::Append;
    return Fit::AskWhole;
}

std::uint32_t cutPauseMs(const std::array<std::uint32_t, kMaxRequests - 1>& pausesMs, int reask)
{
    return pausesMs[static_cast<std::size_t>(std::clamp(reask, 1, kMaxRequests - 1) - 1)];
}

std::uint32_t busyPauseMs(const std::array<std::uint32_t, kMaxRequests - 1>& pausesMs, int reask,
                          std::string_view retryAfter, std::int64_t nowSeconds, std::uint32_t maxRetryAfterMs)
{
    retryAfter = trimmed(retryAfter);
    std::optional<std::uint64_t> seconds;
    std::string_view number = retryAfter;
    if (const auto delta = takeNumber(number); delta && number.empty())
        seconds = *delta;
    else if (const auto date = parseHttpDate(retryAfter))
        seconds = static_cast<std::uint64_t>(std::max<std::int64_t>(*date - nowSeconds, 0));
    if (seconds && *seconds <= maxRetryAfterMs / 1000)
        return static_cast<std::uint32_t>(*seconds * 1000);
    return cutPauseMs(pausesMs, reask + 1);
}

std::optional<std::int64_t> parseHttpDate(std::string_view text)
{
    static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    text = trimmed(text);
    const std::size_t comma = text.find(", ");
    if (comma == std::string_view::npos)
        return std::nullopt;
    text.remove_prefix(comma + 2);
    const auto day = takeNumber(text);
    if (!day || !take(text, " ") || text.size() < 4)
        return std::nullopt;
    const auto month = std::find(std::begin(kMonths), std::end(kMonths), text.substr(0, 3));
    if (month == std::end(kMonths) || text[3] != ' ')
        return std::nullopt;
    text.remove_prefix(4);
    const auto year = takeNumber(text);
    if (!year || !take(text, " "))
        return std::nullopt;
    const auto hour = takeNumber(text);
    if (!hour || !take(text, ":"))
        return std::nullopt;
    const auto minute = takeNumber(text);
    if (!minute || !take(text, ":"))
        return std::nullopt;
    const auto second = takeNumber(text);
    if (!second || trimmed(text) != "GMT" || *day < 1 || *day > 31 || *year > 9999 || *hour > 23 || *minute > 59 ||
        *second > 60)
        return std::nullopt;
    const auto days =
        daysFromCivil(static_cast<std::int64_t>(*year), static_cast<unsigned>(month - std::begin(kMonths) + 1),
                      static_cast<unsigned>(*day));
    return days * 86400 + static_cast<std::int64_t>(*hour * 3600 + *minute * 60 + *second);
}

} // namespace reask
