// The download's handler in this process, against the test HTTP server, with the test
// playing the Flash Player that takes the answer: what only a stand-in for the disk or
// for memory can show.
#include "services/LauncherServices.h"

#include "resources/Texts.h"
#include "services/WinInetFetch.h"

#include "FlashPlayerPeer.h"
#include "support/FailingAllocator.h"
#include "support/WinProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace {

constexpr char kReply[] = "tovin.test.reply";
constexpr DWORD kSlowWriteMs = 700;

std::string url(const std::string& route)
{
    const char* port = std::getenv("TOVIN_HTTP_PORT");
    return "http://127.0.0.1:" + std::string(port ? port : "0") + route;
}

std::unique_ptr<CFlashLocalConnectionCall> downloadCall(const std::string& from, const std::string& to)
{
    auto call = std::make_unique<CFlashLocalConnectionCall>("HttpDownload");
    for (const std::string& text : {std::string(kReply), from, to})
        call->addArgument(std::make_unique<CFlashAMFString>(text), false);
    return call;
}

// A disk that takes its time over each write of the copy.
BOOL WINAPI slowWrite(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED overlapped)
{
    Sleep(kSlowWriteMs);
    return WriteFile(file, bytes, count, written, overlapped);
}

// A folder that takes no new file gets the body through the system's temporary folder,
// copied over the destination at the end. That copy is the launcher's own work, not the
// network's silence: however slow, it is waited for and answered by its result.
TEST(Transfer, ACopySlowerThanTheSilenceLimitIsAnsweredCompleteWithTheDestinationWhole)
{
    const char* sealed = std::getenv("TOVIN_SEALED_DIR");
    if (!sealed)
        GTEST_SKIP() << "the file system here cannot seal a folder";
    FlashPlayerPeer peer;
    peer.registerName(kReply);
    CLauncherServices services;
    CLauncherServices::DownloadTimings timings;
    timings.fetch = {
        .requestMs = 300, .silenceMs = 300, .closeMs = 100, .pausesMs = {10, 10, 10}, .maxRetryAfterMs = 0};
    timings.watchGraceMs = 100;
    timings.copyWrite = slowWrite;
    constexpr std::size_t kSize = 3 * CHttpDownloader::kReadSize; // three writes of the copy
    ASSERT_LT(timings.watchMs(), 3 * kSlowWriteMs) << "the copy must take longer than the watch";
    services.setDownloadTimings(timings);
    const std::string destination = std::string(sealed) + "\\x.bin";

    services.HttpDownload(downloadCall(url("/body/" + std::to_string(kSize)), destination).get(), kReply, nullptr);
    ReceivedMessage answer;
    ASSERT_TRUE(peer.receive(kReply, 5000, answer));
    ASSERT_TRUE(answer.call);
    EXPECT_EQ(answer.call->getMethodName(), "onHttpDownloadComplete");
    EXPECT_EQ(readFile(destination).size(), kSize);
}

// A disk that fails the copy's second write, once the destination is part new.
BOOL WINAPI failingSecondWrite(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED overlapped)
{
    static int writes = 0;
    if (++writes == 2) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return WriteFile(file, bytes, count, written, overlapped);
}

// A copy over the destination that fails midway leaves no file part new and part old:
// the error is answered, and the destination is gone (or, in a folder that lets no file
// go, empty).
TEST(Transfer, ACopyThatFailsMidwayLeavesNoHalfOldDestination)
{
    const char* sealed = std::getenv("TOVIN_SEALED_DIR");
    if (!sealed)
        GTEST_SKIP() << "the file system here cannot seal a folder";
    FlashPlayerPeer peer;
    peer.registerName(kReply);
    CLauncherServices services;
    CLauncherServices::DownloadTimings timings;
    timings.copyWrite = failingSecondWrite;
    services.setDownloadTimings(timings);
    const std::string destination = std::string(sealed) + "\\x.bin";
    const std::size_t size = 3 * CHttpDownloader::kReadSize;
    writeFile(destination, std::string(size, 'o'));

    services.HttpDownload(downloadCall(url("/body/" + std::to_string(size)), destination).get(), kReply, nullptr);
    ReceivedMessage answer;
    ASSERT_TRUE(peer.receive(kReply, 5000, answer));
    ASSERT_TRUE(answer.call);
    EXPECT_EQ(answer.call->getMethodName(), "onHttpDownloadError");
    EXPECT_EQ(answer.call->getArguments().front()->toString(), texts::kCannotCreateDestination);
    EXPECT_EQ(readFile(destination), "") << "the destination was left part new, part old";
}

// Making the transfer takes its read buffer; when there is no memory for it, the
// download ends there (the call only) and leaves no temporary file behind.
TEST(Transfer, NoMemoryForTheTransferLeavesNoTemporaryFile)
{
    TempDir dir;
    CLauncherServices services;
    const auto call = downloadCall(url("/body/10"), dir.file("never.bin"));
    {
        const FailAllocationsAbove noBuffer(64 * 1024);
        EXPECT_THROW(services.HttpDownload(call.get(), kReply, nullptr), std::bad_alloc);
    }
    EXPECT_GT(refusedAllocations(), 0u);
    EXPECT_EQ(filesMatching(dir.file("tvn*.tmp")), std::vector<std::string>{});
    EXPECT_FALSE(fileExists(dir.file("never.bin")));
}

} // namespace
