// The WinINet fetch on its own, against the test HTTP server: what an abandoned
// transfer's thread may still do once the next transfer has begun.
#include "services/WinInetFetch.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::string url(const std::string& route)
{
    const char* port = std::getenv("TOVIN_HTTP_PORT");
    return "http://127.0.0.1:" + std::string(port ? port : "0") + route;
}

struct Fetch {
    std::string url;
    HANDLE file;
    CHttpDownloader downloader;
    HttpDownloadResult result;
};

DWORD WINAPI runFetch(void* fetch)
{
    auto& f = *static_cast<Fetch*>(fetch);
    f.result = f.downloader.Download(f.url.c_str(), f.file);
    return 0;
}

DWORD WINAPI drain(void* pipe)
{
    char bytes[64 * 1024];
    DWORD got = 0;
    while (ReadFile(pipe, bytes, sizeof bytes, &got, nullptr) && got > 0) {
    }
    return 0;
}

// The transfer is abandoned while its thread is in a write (to a pipe nobody reads
// yet), between two reads. WinINet recycles handle values at once, so the next
// transfer's handles may have the values the first one had: the first must not read
// from them once its write returns.
TEST(WinInetFetch, AnAbandonedTransferLeavesTheNextOnesBodyAlone)
{
    constexpr int kNextSize = 4 * 1024 * 1024;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 4096));
    UniqueHandle reader(readEnd);
    UniqueHandle writer(writeEnd);
    Fetch first{url("/fast/67108864"), writer.get(), {}, {}};
    const UniqueHandle worker(CreateThread(nullptr, 0, runFetch, &first, 0, nullptr));
    ASSERT_TRUE(worker);
    DWORD waiting = 0;
    ASSERT_TRUE(waitUntil(
        [&] { return PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0; }, 30000));
    first.downloader.abandon();

    const UniqueInternetHandle internet(InternetOpenA("next", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    const UniqueInternetHandle request(InternetOpenUrlA(
        internet.get(), url("/fast/" + std::to_string(kNextSize)).c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0));
    ASSERT_TRUE(request);

    const UniqueHandle drainer(CreateThread(nullptr, 0, drain, reader.get(), 0, nullptr));
    ASSERT_TRUE(drainer);
    ASSERT_EQ(WaitForSingleObject(worker.get(), 120000), WAIT_OBJECT_0);
    writer.close();
    EXPECT_EQ(WaitForSingleObject(drainer.get(), 30000), WAIT_OBJECT_0);
    EXPECT_EQ(first.result.status, 5) << "an abandoned body is a cut one";

    std::vector<char> chunk(64 * 1024);
    std::int64_t total = 0;
    DWORD got = 0;
    while (InternetReadFile(request.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got) && got > 0)
        total += got;
    EXPECT_EQ(total, kNextSize) << "the abandoned transfer read from the next one's request";
}

} // namespace
