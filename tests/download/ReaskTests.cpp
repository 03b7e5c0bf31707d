// A download on a real network: the handler in this process against the test HTTP
// server's flaky routes (cuts, stalls, a changed file, a busy server), every limit
// shortened, the test playing the Flash Player that takes the answer. Each checks the
// destination byte for byte and the requests the server saw, with their Range and If-Range.
#include "services/LauncherServices.h"

#include "FlashPlayerPeer.h"
#include "resources/Texts.h"
#include "support/Wait.h"
#include "support/WinProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <thread>

namespace {

constexpr char kReply[] = "tovin.test.reply";
constexpr std::size_t kSize = 8u << 20; // a body worth resuming
constexpr std::size_t kCutAt = 3u << 20;
const std::string kOld = "the old content";
// An answer is written before the handler returns: this is only for the slot to be read.
constexpr DWORD kAnswerMs = 1000;

std::string url(const std::string& route)
{
    const char* port = std::getenv("TOVIN_HTTP_PORT");
    return "http://127.0.0.1:" + std::string(port ? port : "0") + route;
}

// The test server's body: version 0 is /body/N's pattern, version 1 (a changed file) the
// same pattern 3 higher.
std::string body(std::size_t size, int version = 0)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + 3 * version) % 251);
    return bytes;
}

std::string flaky(const std::string& options, std::size_t size = kSize)
{
    return "/flaky/" + std::to_string(size) + "?" + options;
}

std::vector<std::string> logLines()
{
    const char* log = std::getenv("TOVIN_HTTP_LOG");
    return log ? readLines(log) : std::vector<std::string>{};
}

// Every limit short, so that a stall for good is tested in seconds: the server's
// Retry-After of 1 s is obeyed, one of an hour is not.
CLauncherServices::DownloadTimings shortTimings()
{
    CLauncherServices::DownloadTimings timings;
    timings.fetch.requestMs = 5000;
    timings.fetch.silenceMs = 500;
    timings.fetch.closeMs = 500;
    timings.fetch.pausesMs = {20, 40, 80};
    timings.fetch.maxRetryAfterMs = 2000;
    timings.stallGraceMs = 500;
    return timings;
}

// The name maker of two downloads in one clock tick: both get the same name.
UINT WINAPI sameName(LPCWSTR folder, LPCWSTR prefix, UINT, LPWSTR name)
{
    std::swprintf(name, MAX_PATH, L"%ls\\%lsSAME.tmp", folder, prefix);
    const UniqueFileHandle made(CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    return made ? 1 : 0;
}

class Reask : public ::testing::Test {
protected:
    Reask()
    {
        peer_.registerName(kReply);
        services_.setDownloadTimings(timings_);
    }

    // Downloads `route` into `destination`; the answer as "method", then its values.
    std::string download(const std::string& route, const std::string& destination)
    {
        seen_ = logLines().size();
        auto call = std::make_unique<CFlashLocalConnectionCall>("HttpDownload");
        for (const std::string& text : {std::string(kReply), url(route), destination})
            call->addArgument(std::make_unique<CFlashAMFString>(text), false);
        services_.HttpDownload(call.get(), kReply, nullptr);
        ReceivedMessage answer;
        if (!peer_.receive(kReply, kAnswerMs, answer) || !answer.call)
            return "no answer";
        std::string text = answer.call->getMethodName();
        for (const AmfValuePtr& value : answer.call->getArguments())
            text += " " + (value->getType() == kAmfNumber ? std::to_string(static_cast<int>(value->toNumber()))
                                                          : value->toString());
        return text;
    }

    // The requests the server saw during the last download: path, then Range and If-Range.
    std::vector<std::string> requests() const
    {
        const std::vector<std::string> lines = logLines();
        return {lines.begin() + static_cast<std::ptrdiff_t>(std::min(seen_, lines.size())), lines.end()};
    }

    static std::string error(int status)
    {
        return "onHttpDownloadError " + std::string(texts::kHttpStatusNot200) + " " + std::to_string(status);
    }
    static std::string resumedAt(std::size_t from, const std::string& validator)
    {
        return "\tRange: bytes=" + std::to_string(from) + "-\tIf-Range: " + validator;
    }
    std::vector<std::string> leftovers() const { return filesMatching(dir_.file("tvn*.tmp")); }

    const std::string complete_ = "onHttpDownloadComplete";
    CLauncherServices::DownloadTimings timings_ = shortTimings();
    TempDir dir_;
    FlashPlayerPeer peer_;
    CLauncherServices services_;
    std::size_t seen_ = 0;
};

// Cut at 3 MiB of 8: asked again from the first byte missing, proven the same body by
// its ETag or else its Last-Modified, and appended. A clean download asks once.
TEST_F(Reask, ACutBodyIsResumedFromItsFirstMissingByte)
{
    const std::pair<const char*, const char*> rows[] = {{"etag", "\"v0\""}, {"date", "Sun, 09 Sep 2001 01:46:40 GMT"}};
    for (const auto& [kind, validator] : rows) {
        const std::string route = flaky("cut=" + std::to_string(kCutAt) + "&validator=" + kind);
        const std::string destination = dir_.file(std::string(kind) + ".bin");
        writeFile(destination, kOld);
        EXPECT_EQ(download(route, destination), complete_) << kind;
        EXPECT_TRUE(readFile(destination) == body(kSize)) << kind;
        EXPECT_EQ(requests(), (std::vector<std::string>{route, route + resumedAt(kCutAt, validator)})) << kind;
    }
    const std::string clean = flaky("id=clean");
    EXPECT_EQ(download(clean, dir_.file("clean.bin")), complete_);
    EXPECT_EQ(requests(), std::vector<std::string>{clean});
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// A body that may not be the same one is never stitched: a changed file answers the
// range with its whole new body, and one without validators is asked for whole.
TEST_F(Reask, ACutBodyNotProvenTheSameStartsOver)
{
    const std::string changed = flaky("cut=" + std::to_string(kCutAt) + "&change=1");
    EXPECT_EQ(download(changed, dir_.file("changed.bin")), complete_);
    EXPECT_TRUE(readFile(dir_.file("changed.bin")) == body(kSize, 1));
    EXPECT_EQ(requests(), (std::vector<std::string>{changed, changed + resumedAt(kCutAt, "\"v0\"")}));

    const std::string bare = flaky("cut=" + std::to_string(kCutAt) + "&validator=none");
    EXPECT_EQ(download(bare, dir_.file("bare.bin")), complete_);
    EXPECT_TRUE(readFile(dir_.file("bare.bin")) == body(kSize));
    EXPECT_EQ(requests(), (std::vector<std::string>{bare, bare}));
}

// 503 with Retry-After in seconds or as a date, or one too long to wait for (then the
// usual pauses): asked again, whole, and the body arrives.
TEST_F(Reask, ABusyServerIsAskedAgain)
{
    for (const std::string& options :
         {std::string("busy=1&retry=1"), std::string("busy=1&retry=date"), std::string("busy=2&retry=3600")}) {
        const std::string route = flaky(options, 1000);
        EXPECT_EQ(download(route, dir_.file("busy.bin")), complete_) << options;
        EXPECT_TRUE(readFile(dir_.file("busy.bin")) == body(1000)) << options;
        EXPECT_EQ(requests(), std::vector<std::string>(options[5] - '0' + 1, route)) << options;
    }
}

// The worker's own silence limit cuts a body that stops at 2 MiB, and resumes it; a body
// that trickles for longer than that limit, never silent for as long, is no fault.
TEST_F(Reask, ASilentRequestIsResumedAndATrickleIsNot)
{
    const std::string stalled = flaky("stall=2097152&for=20");
    EXPECT_EQ(download(stalled, dir_.file("stalled.bin")), complete_);
    EXPECT_TRUE(readFile(dir_.file("stalled.bin")) == body(kSize));
    EXPECT_EQ(requests(), (std::vector<std::string>{stalled, stalled + resumedAt(2097152, "\"v0\"")}));

    const std::string trickle = "/slow/30000/" + std::to_string(4 * timings_.fetch.silenceMs / 1000 + 1);
    EXPECT_EQ(download(trickle, dir_.file("trickle.bin")), complete_);
    EXPECT_TRUE(readFile(dir_.file("trickle.bin")) == body(30000));
    EXPECT_EQ(requests(), std::vector<std::string>{trickle});
}

// Four requests in all, whatever asks again: then the last failure is answered as a
// single request's would be, the destination as it was and no partial file left.
TEST_F(Reask, TheBudgetSpentIsAnsweredAsToday)
{
    const std::string destination = dir_.file("kept.bin");
    writeFile(destination, kOld);
    const std::string cutEveryTime = flaky("every=1000", 100000);
    EXPECT_EQ(download(cutEveryTime, destination), error(5));
    EXPECT_EQ(requests(), (std::vector<std::string>{cutEveryTime, cutEveryTime + resumedAt(1000, "\"v0\""),
                                                    cutEveryTime + resumedAt(2000, "\"v0\""),
                                                    cutEveryTime + resumedAt(3000, "\"v0\"")}));
    const std::string busy = flaky("busy=9", 1000);
    EXPECT_EQ(download(busy, destination), error(503));
    EXPECT_EQ(requests(), std::vector<std::string>(reask::kMaxRequests, busy));
    // Silent for good, cut late in a large body, or far short of a length past 2 and 4 GiB.
    const std::string lateCut = "/fast-cut/" + std::to_string(12u << 20) + "/" + std::to_string(16u << 20);
    for (const std::string& route : {flaky("stall=1000&stalls=9", 100000), lateCut, std::string("/cut/5000000000"),
                                     std::string("/cut/4000000000"), std::string("/cut/2200000000")}) {
        EXPECT_EQ(download(route, destination), error(5)) << route;
        EXPECT_EQ(requests().size(), std::size_t{reask::kMaxRequests}) << route;
    }
    for (const char* route : {"/404", "/206"}) {
        EXPECT_EQ(download(route, destination), error(route == std::string("/404") ? 404 : 206));
        EXPECT_EQ(requests().size(), 1u) << route;
    }
    EXPECT_EQ(readFile(destination), kOld);
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// The game's end during a busy server's pause ends the pause at once: no answer, no file.
TEST_F(Reask, TheGamesEndWakesAPause)
{
    timings_.fetch.maxRetryAfterMs = reask::kMaxRetryAfterMs;
    services_.setDownloadTimings(timings_);
    const std::string route = flaky("busy=1&retry=" + std::to_string(reask::kMaxRetryAfterMs / 1000), 1000);
    std::thread ender([&] {
        waitUntil([&] { return requests().size() == 1; }, 10000);
        services_.markEnded();
    });
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(download(route, dir_.file("never.bin")), "no answer");
    ender.join();
    EXPECT_LT(GetTickCount64() - start, ULONGLONG{reask::kMaxRetryAfterMs}) << "the pause was waited out";
    EXPECT_FALSE(fileExists(dir_.file("never.bin")));
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// Two downloads into one folder whose partial files get one name, as Windows' clock-based
// names can: the first, once moved, forgets the name, and the second is whole.
TEST_F(Reask, TwoDownloadsGivenOnePartialFileNameBothComplete)
{
    timings_.nameMaker = sameName;
    services_.setDownloadTimings(timings_);
    EXPECT_EQ(download(flaky("id=first", 1000), dir_.file("first.bin")), complete_);
    EXPECT_EQ(download(flaky("id=second", 2000), dir_.file("second.bin")), complete_);
    EXPECT_TRUE(readFile(dir_.file("second.bin")) == body(2000));
}

} // namespace
