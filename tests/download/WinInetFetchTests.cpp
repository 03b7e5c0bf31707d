// The WinINet fetch on its own: against the test HTTP server, what an abandoned
// transfer's thread may still do once the next transfer has begun; against a stand-in
// for WinINet, what Windows may do and Wine never does.
#include "download/InternetHandle.h"
#include "download/WinInetFetch.h"
#include "support/Wait.h"
#include "support/WinProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string url(const std::string& route)
{
    const char* port = std::getenv("TOVIN_HTTP_PORT");
    return "http://127.0.0.1:" + std::string(port ? port : "0") + route;
}

struct Fetch {
    Fetch(std::string from, HANDLE to, const reask::Limits& limits = {},
          const InternetCalls& calls = InternetCalls::system())
        : url(std::move(from)), file(to), downloader(limits, calls)
    {
    }
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
    Fetch first(url("/fast/67108864"), writer.get());
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

// WinINet as Windows may behave for the calls of one download: one session, one request,
// their notices sent as the calls are made. What it is given to close is recorded.
class StandInInternet : public InternetCalls {
public:
    static inline const auto kSession = reinterpret_cast<HINTERNET>(0x51);
    static inline const auto kRequest = reinterpret_cast<HINTERNET>(0x52);

    HINTERNET open(const char*, DWORD) const override { return kSession; }
    INTERNET_STATUS_CALLBACK setCallback(HINTERNET, INTERNET_STATUS_CALLBACK callback) const override
    {
        callback_ = callback;
        return nullptr;
    }
    BOOL setOption(HINTERNET, DWORD, void*, DWORD) const override { return TRUE; }
    BOOL close(HINTERNET handle) const override
    {
        closed_.push_back(handle);
        if (handle == kSession && closingNotice_)
            notify(INTERNET_STATUS_HANDLE_CLOSING, 0);
        return TRUE;
    }

    bool closingNotice_ = true; // closing the session reports the request handle's closing
    mutable std::vector<HINTERNET> closed_;

protected:
    void notify(DWORD status, DWORD_PTR result, DWORD error = 0) const
    {
        INTERNET_ASYNC_RESULT information = {result, error};
        callback_(kRequest, context_, status, &information, sizeof information);
    }
    mutable INTERNET_STATUS_CALLBACK callback_ = nullptr;
    mutable DWORD_PTR context_ = 0;
};

// An asynchronous open that fails after WinINet reported the request's handle made, or
// never completes: the request handle is WinINet's to close, through the session, and
// its closing notice may or may not come. Either way the fetch ends within its bounds,
// and never closes the bare handle value, which WinINet may have given to someone else.
TEST(WinInetFetch, AnOpenThatFailsAfterItsHandleWasMadeEndsWithinItsBounds)
{
    struct FailingOpen : StandInInternet {
        HINTERNET openUrl(HINTERNET, const char*, const char*, DWORD, DWORD_PTR context) const override
        {
            context_ = context;
            notify(INTERNET_STATUS_HANDLE_CREATED, reinterpret_cast<DWORD_PTR>(kRequest));
            if (completes_)
                notify(INTERNET_STATUS_REQUEST_COMPLETE, 0, ERROR_INTERNET_CANNOT_CONNECT);
            SetLastError(ERROR_IO_PENDING);
            return nullptr;
        }
        bool completes_ = true; // else it stays pending until its session is closed
    };
    reask::Limits limits;
    limits.requestMs = 200;
    limits.closeMs = 200;
    for (const auto& [notice, completes] : {std::pair(true, true), std::pair(false, true), std::pair(true, false)}) {
        FailingOpen calls;
        calls.closingNotice_ = notice;
        calls.completes_ = completes;
        Fetch fetch("http://stand-in/", INVALID_HANDLE_VALUE, limits, calls);
        const UniqueHandle worker(CreateThread(nullptr, 0, runFetch, &fetch, 0, nullptr));
        ASSERT_TRUE(worker);
        ASSERT_EQ(WaitForSingleObject(worker.get(), 20 * limits.closeMs), WAIT_OBJECT_0)
            << "closing notice " << notice << ": the fetch waited past its bounds";
        EXPECT_EQ(fetch.result.status, 2);
        EXPECT_EQ(calls.closed_, std::vector<HINTERNET>{StandInInternet::kSession}) << "closing notice " << notice;
    }
}

// A response of kSize bytes with status 200, whose first read not to wait goes pending
// and completes with bytes in the buffer. Its queries answer only for the request handle.
struct StandInResponse : StandInInternet {
    static constexpr std::uint32_t kSize = 5000;

    HINTERNET openUrl(HINTERNET, const char*, const char*, DWORD flags, DWORD_PTR context) const override
    {
        context_ = context;
        flags_ = flags;
        if (!openGoesPending_)
            return kRequest;
        // As Windows documents it: the handle in its creation notice, the completion a Boolean.
        notify(INTERNET_STATUS_HANDLE_CREATED, reinterpret_cast<DWORD_PTR>(kRequest));
        notify(INTERNET_STATUS_REQUEST_COMPLETE, TRUE);
        SetLastError(ERROR_IO_PENDING);
        return nullptr;
    }
    BOOL queryInfo(HINTERNET request, DWORD query, char* text, DWORD* length) const override
    {
        const std::string value = request != kRequest                  ? ""
                                  : query == HTTP_QUERY_STATUS_CODE    ? "200"
                                  : query == HTTP_QUERY_CONTENT_LENGTH ? std::to_string(kSize)
                                                                       : "";
        *length = static_cast<DWORD>(value.size());
        value.copy(text, value.size());
        return !value.empty();
    }
    BOOL queryDataAvailable(HINTERNET, DWORD* available) const override
    {
        *available = kSize - sent_;
        return TRUE;
    }
    BOOL read(HINTERNET, void* into, DWORD size, DWORD* got) const override
    {
        *got = give(into, size);
        return TRUE;
    }
    BOOL readWithoutWaiting(HINTERNET, INTERNET_BUFFERSA* buffers, DWORD_PTR) const override
    {
        const bool first = sent_ == 0;
        buffers->dwBufferLength = give(buffers->lpvBuffer, first ? 1000 : buffers->dwBufferLength);
        if (!first)
            return TRUE;
        notify(INTERNET_STATUS_REQUEST_COMPLETE, TRUE);
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    DWORD give(void* into, DWORD size) const
    {
        const DWORD count = std::min(size, kSize - sent_);
        for (DWORD i = 0; i < count; ++i)
            static_cast<std::uint8_t*>(into)[i] = static_cast<std::uint8_t>((sent_ + i) * 7 % 251);
        sent_ += count;
        return count;
    }
    static std::string body()
    {
        std::string expected(kSize, '\0');
        for (std::uint32_t i = 0; i < kSize; ++i)
            expected[i] = static_cast<char>(i * 7 % 251);
        return expected;
    }

    bool openGoesPending_ = false;
    mutable DWORD sent_ = 0;
    mutable DWORD flags_ = 0;
};

// A read that is not to wait goes pending all the same, and completes with bytes in the
// buffer: they are written, in their place. An open that goes pending gives its request
// handle in its creation notice, and its completion carries 1: the fetch uses the handle.
// And no request writes into WinINet's cache.
TEST(WinInetFetch, PendingCallsKeepTheirBytesAndTheirHandle)
{
    for (const bool openGoesPending : {false, true}) {
        TempDir dir;
        const std::string path = dir.file("body.bin");
        UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file);
        StandInResponse calls;
        calls.openGoesPending_ = openGoesPending;
        Fetch fetch("http://stand-in/", file.get(), {}, calls);
        runFetch(&fetch);
        file.close();
        EXPECT_EQ(fetch.result.status, 200) << "open pending " << openGoesPending;
        EXPECT_TRUE(readFile(path) == StandInResponse::body())
            << "open pending " << openGoesPending << ": the pending read's bytes must be in the file, in their place";
        EXPECT_EQ(calls.closed_, (std::vector<HINTERNET>{StandInInternet::kRequest, StandInInternet::kSession}));
        EXPECT_TRUE(calls.flags_ & INTERNET_FLAG_NO_CACHE_WRITE) << "the body was written into WinINet's cache too";
    }
}

// An open that goes pending and outlives its bound, its handle not made yet (a slow
// proxy detection): WinINet may still make it and send its notices, into what the open
// was given. Those stay the open's until its closing notice, not the next request's.
TEST(WinInetFetch, APendingOpensNoticesOutliveItsRequest)
{
    struct SlowOpen : StandInInternet {
        HINTERNET openUrl(HINTERNET, const char*, const char*, DWORD, DWORD_PTR context) const override
        {
            contexts_.push_back(context);
            SetLastError(ERROR_IO_PENDING);
            return nullptr;
        }
        // Later, from WinINet's thread: the handle made, the open failed, the handle closed.
        void lateNotices(DWORD_PTR context) const
        {
            context_ = context;
            notify(INTERNET_STATUS_HANDLE_CREATED, reinterpret_cast<DWORD_PTR>(kRequest));
            notify(INTERNET_STATUS_REQUEST_COMPLETE, 0, ERROR_INTERNET_TIMEOUT);
            notify(INTERNET_STATUS_HANDLE_CLOSING, 0);
        }
        mutable std::vector<DWORD_PTR> contexts_;
    };
    reask::Limits limits;
    limits.requestMs = 100;
    limits.closeMs = 100;
    SlowOpen calls;
    calls.closingNotice_ = false; // no handle yet, so nothing to report closed
    for (int i = 0; i < 2; ++i) {
        Fetch fetch("http://stand-in/", INVALID_HANDLE_VALUE, limits, calls);
        runFetch(&fetch);
        EXPECT_EQ(fetch.result.status, 2);
    }
    ASSERT_EQ(calls.contexts_.size(), 2u);
    EXPECT_NE(calls.contexts_[0], calls.contexts_[1])
        << "the pending open's notices were freed, and the next request was given their memory";
    for (const DWORD_PTR context : calls.contexts_)
        calls.lateNotices(context);
}

} // namespace
