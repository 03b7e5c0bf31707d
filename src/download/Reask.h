// When a download asks the server again, and from which byte: the policy of a transfer
// that survives a cut body or a busy server, apart from WinINet so that it is tested on
// the host. The game still sees one call and one answer.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace reask {

// The bounds below are tied. The game waits for one answer, and the worst case to it,
//   kMaxRequests * (kRequestMs + kSilenceMs + kCloseMs) + (kMaxRequests - 1) * kMaxRetryAfterMs,
// must stay under five minutes (the static_assert after Limits). So a change of one forces
// the others: more requests need one more pause each in kPausesMs and shorter waits or a
// lower Retry-After ceiling; longer waits need fewer requests. The README gives the
// formula, and the main thread's stall limit (DownloadTimings) follows from Limits.

// Requests per download in all, the first included: resumes and busy re-asks share them.
constexpr int kMaxRequests = 4;
// The pause before the first, second and third re-ask of a cut body. A busy server
// without a usable Retry-After waits the next one along (about 1 s, then 2 s).
constexpr std::array<std::uint32_t, kMaxRequests - 1> kPausesMs = {500, 1000, 2000};
// A pause left out when kMaxRequests grows would be zero: a re-ask at once.
static_assert(std::ranges::all_of(kPausesMs, [](std::uint32_t pause) { return pause > 0; }), "one pause per re-ask");
// A busy server's Retry-After is obeyed up to this; a longer one gets the usual pause.
constexpr std::uint32_t kMaxRetryAfterMs = 30000;

// The bounds of a download's worker: each of its waits ends by one of these, or at once
// when the transfer is abandoned. Tests shorten them.
struct Limits {
    // Connect, send and the response's headers, for one request.
    static constexpr std::uint32_t kRequestMs = 20000;
    // No body byte for this long while one is due: the request is cut, closed and asked again.
    static constexpr std::uint32_t kSilenceMs = 20000;
    // A closed request's last notice from WinINet.
    static constexpr std::uint32_t kCloseMs = 2000;

    std::uint32_t requestMs = kRequestMs;
    std::uint32_t silenceMs = kSilenceMs;
    std::uint32_t closeMs = kCloseMs;
    std::array<std::uint32_t, kMaxRequests - 1> pausesMs = kPausesMs;
    std::uint32_t maxRetryAfterMs = kMaxRetryAfterMs;

    // One request that fails as late as it can, a body that keeps coming aside.
    constexpr std::uint32_t requestWorstMs() const { return requestMs + silenceMs + closeMs; }
    constexpr std::uint32_t longestPauseMs() const
    {
        std::uint32_t longest = maxRetryAfterMs;
        for (const std::uint32_t pause : pausesMs)
            longest = pause > longest ? pause : longest;
        return longest;
    }
    // From the call to its answer when every request fails as late as it can.
    constexpr std::uint32_t worstToAnswerMs() const
    {
        return kMaxRequests * requestWorstMs() + (kMaxRequests - 1) * longestPauseMs();
    }
    // The longest the worker goes without a sign of life (a body byte, or a request
    // begun): what the main thread's stall limit must wait out before it takes the worker for stuck.
    constexpr std::uint32_t longestQuietMs() const { return longestPauseMs() + requestWorstMs(); }
};
// The game waits for its answer: even the worst case must come within five minutes.
static_assert(Limits{}.worstToAnswerMs() < 5 * 60 * 1000);

// 502, 503 and 504: the server (or the one behind it) may answer in a moment.
bool isBusy(int status);

// The If-Range of a re-ask: the strong ETag, or else Last-Modified. Empty when there is
// neither (a weak ETag does not count): two responses are then never stitched.
std::string validatorOf(std::string_view etag, std::string_view lastModified);

// "bytes FIRST-LAST/TOTAL", the part a 206 brings.
struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t total = 0;
};
std::optional<ContentRange> parseContentRange(std::string_view text);

// How the response to a request for the bytes from `from` on (0: the whole body) goes
// on with a partial file that holds `from` bytes of a body of `total`.
enum class Fit {
    Append,    // a 206 for exactly the bytes asked, of the same body
    StartOver, // a 200: the whole body again, maybe a new one; the partial file starts over
    AskWhole,  // another part, another total, or 416: ask again for the whole body
    Other,     // any other status, answered as the first request's would be
};
Fit fitOf(int status, std::uint64_t from, std::uint64_t total, std::optional<ContentRange> range);

// The pause before re-ask number `reask` (1 for the first) after a cut body.
std::uint32_t cutPauseMs(const std::array<std::uint32_t, kMaxRequests - 1>& pausesMs, int reask);
// After a busy answer: its Retry-After (delta seconds, or an HTTP date read against
// `nowSeconds`, Unix time) when that says `maxRetryAfterMs` or less, else the usual pause.
std::uint32_t busyPauseMs(const std::array<std::uint32_t, kMaxRequests - 1>& pausesMs, int reask,
                          std::string_view retryAfter, std::int64_t nowSeconds, std::uint32_t maxRetryAfterMs);

// An HTTP date (IMF-fixdate, "Sun, 06 Nov 1994 08:49:37 GMT") as Unix seconds.
std::optional<std::int64_t> parseHttpDate(std::string_view text);

} // namespace reask
