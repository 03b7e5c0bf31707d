// The download's handler in this process, against the test HTTP server, with the test
// playing the Flash Player that takes the answer: what only a stand-in for the disk or
// for memory can show.
#include "services/LauncherServices.h"

#include "download/WinInetFetch.h"
#include "resources/Texts.h"
#include "win/WideText.h"

#include "FlashPlayerPeer.h"
#include "support/FailingAllocator.h"
#include "support/WinProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

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

// A folder that takes no new file gets the body through the system's temporary folder,
// copied over the destination at the end; the test plays the Flash Player that takes the
// download's answer.
class TransferIntoASealedFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* sealed = std::getenv("TOVIN_SEALED_DIR");
        if (!sealed)
            GTEST_SKIP() << "the file system here cannot seal a folder";
        destination_ = std::string(sealed) + "\\x.bin";
        peer_.registerName(kReply);
    }
    // Downloads `size` bytes into the destination and gives the answer's record.
    std::unique_ptr<CFlashLocalConnectionCall> download(std::size_t size)
    {
        services_.HttpDownload(downloadCall(url("/body/" + std::to_string(size)), destination_).get(), kReply, nullptr);
        ReceivedMessage answer;
        EXPECT_TRUE(peer_.receive(kReply, 5000, answer));
        return std::move(answer.call);
    }

    FlashPlayerPeer peer_;
    CLauncherServices services_;
    std::string destination_;
};

// A disk that takes its time over each write of the copy.
BOOL WINAPI slowWrite(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED overlapped)
{
    Sleep(kSlowWriteMs);
    return WriteFile(file, bytes, count, written, overlapped);
}

// The copy over the destination is the launcher's own work, not the network's silence:
// however slow, it is waited for and answered by its result.
TEST_F(TransferIntoASealedFolder, ACopySlowerThanTheSilenceLimitIsAnsweredCompleteWithTheDestinationWhole)
{
    CLauncherServices::DownloadTimings timings;
    timings.fetch = {
        .requestMs = 300, .silenceMs = 300, .closeMs = 100, .pausesMs = {10, 10, 10}, .maxRetryAfterMs = 0};
    timings.stallGraceMs = 100;
    timings.copyWrite = slowWrite;
    constexpr std::size_t kSize = 3 * CHttpDownloader::kReadSize; // three writes of the copy
    ASSERT_LT(timings.stallLimitMs(), 3 * kSlowWriteMs) << "the copy must take longer than the stall limit";
    services_.setDownloadTimings(timings);
    const auto answer = download(kSize);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->getMethodName(), "onHttpDownloadComplete");
    EXPECT_EQ(readFile(destination_).size(), kSize);
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
TEST_F(TransferIntoASealedFolder, ACopyThatFailsMidwayLeavesNoHalfOldDestination)
{
    CLauncherServices::DownloadTimings timings;
    timings.copyWrite = failingSecondWrite;
    services_.setDownloadTimings(timings);
    const std::size_t size = 3 * CHttpDownloader::kReadSize;
    writeFile(destination_, std::string(size, 'o'));

    const auto answer = download(size);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->getMethodName(), "onHttpDownloadError");
    EXPECT_EQ(answer->getArguments().front()->toString(), texts::kCannotCreateDestination);
    EXPECT_EQ(readFile(destination_), "") << "the destination was left part new, part old";
}

// The partial file's name as the transfer made it, for the test's other thread.
std::mutex g_partialLock;
std::string g_partial;
UINT WINAPI recordingNameMaker(LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name)
{
    const UINT made = GetTempFileNameW(folder, prefix, unique, name);
    const std::lock_guard lock(g_partialLock);
    if (made)
        g_partial = win::narrow(name);
    return made;
}

// Another program writes to the destination, not sharing that, until half a second after
// the body's last byte: the copy over it is tried again until it lets go.
TEST_F(TransferIntoASealedFolder, ADestinationHeldForAMomentIsCopiedOverOnceLetGo)
{
    CLauncherServices::DownloadTimings timings;
    timings.nameMaker = recordingNameMaker;
    services_.setDownloadTimings(timings);
    constexpr std::size_t kSize = 3 * CHttpDownloader::kReadSize;
    const HANDLE held =
        CreateFileA(destination_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::jthread holder([held] {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        for (int i = 0; i < 1500; ++i, Sleep(20)) {
            const std::lock_guard lock(g_partialLock);
            if (GetFileAttributesExW(win::widen(g_partial).c_str(), GetFileExInfoStandard, &data) &&
                data.nFileSizeLow == kSize)
                break;
        }
        Sleep(500);
        CloseHandle(held);
    });
    const auto answer = download(kSize);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->getMethodName(), "onHttpDownloadComplete");
    const std::string copied = readFile(destination_);
    ASSERT_EQ(copied.size(), kSize);
    for (std::size_t i = 0; i < kSize; ++i)
        ASSERT_EQ(static_cast<unsigned char>(copied[i]), i * 7 % 251) << "byte " << i; // /body/N's pattern
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
