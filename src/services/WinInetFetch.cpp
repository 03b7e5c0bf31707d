#include "services/WinInetFetch.h"

#include "services/ContentLength.h"

#include <optional>
#include <string_view>

namespace {

constexpr char kUserAgent[] = "Tovin-HTTP-Agent";

std::int32_t leadingNumber(const char* text)
{
    std::int32_t value = 0;
    for (; *text >= '0' && *text <= '9' && value < 100000000; ++text)
        value = value * 10 + (*text - '0');
    return value;
}

// Read as text: the numeric query gives 32 bits, and bodies may be larger.
std::optional<std::uint64_t> announcedLength(HINTERNET request)
{
    char text[64] = {};
    DWORD length = sizeof text - 1;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr))
        return std::nullopt;
    return parseContentLength(std::string_view(text, length < sizeof text ? length : sizeof text - 1));
}

bool writeAll(HANDLE file, const std::uint8_t* bytes, DWORD count)
{
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(file, bytes, count, &written, nullptr) || written == 0)
            return false;
        bytes += written;
        count -= written;
    }
    return true;
}

} // namespace

// The request's body through WinINet, into the file. What a pending call writes later
// lives in the downloader, which outlives the request handle.
class CHttpDownloader::Body : public BodySource, public BodySink {
public:
    Body(CHttpDownloader& downloader, HINTERNET request, HANDLE file)
        : downloader_(downloader), request_(request), file_(file)
    {
    }

    bool available(std::uint32_t& count) override
    {
        for (;;) {
            if (downloader_.abandoned())
                return false;
            downloader_.available_ = 0;
            downloader_.expectCompletion();
            const BOOL done = InternetQueryDataAvailable(request_, &downloader_.available_, 0, 0);
            if (!downloader_.completed(done))
                return false;
            if (done) {
                count = downloader_.available_;
                return true;
            }
            // Completed later: what has come is buffered now, and the next query says how much.
        }
    }

    bool read(std::uint8_t* into, std::uint32_t size, std::uint32_t& got) override
    {
        if (downloader_.abandoned())
            return false;
        downloader_.got_ = 0;
        downloader_.expectCompletion();
        if (!downloader_.completed(InternetReadFile(request_, into, size, &downloader_.got_)))
            return false;
        got = downloader_.got_;
        return true;
    }

    bool readWithoutWaiting(std::uint8_t* into, std::uint32_t size, std::uint32_t& got) override
    {
        if (downloader_.abandoned())
            return false;
        INTERNET_BUFFERSA& buffers = downloader_.buffers_;
        buffers = {};
        buffers.dwStructSize = sizeof buffers;
        buffers.lpvBuffer = into;
        buffers.dwBufferLength = size;
        const auto context = reinterpret_cast<DWORD_PTR>(&downloader_);
        downloader_.expectCompletion();
        const BOOL done = InternetReadFileExA(request_, &buffers, IRF_NO_WAIT, context);
        if (!downloader_.completed(done))
            return false;
        // Documented never to wait; one that did anyway (Wine's, with nothing there) only
        // waited for bytes, left them unread and the length as it was.
        got = done ? buffers.dwBufferLength : 0;
        return true;
    }

    bool write(const std::uint8_t* bytes, std::uint32_t count) override
    {
        if (!writeAll(file_, bytes, count))
            return false;
        downloader_.written_ += count;
        return true;
    }

private:
    CHttpDownloader& downloader_;
    const HINTERNET request_;
    const HANDLE file_;
};

CHttpDownloader::CHttpDownloader()
    : chunk_(kReadSize), abandon_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      completed_(CreateEventA(nullptr, FALSE, FALSE, nullptr)), closed_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
}

void CHttpDownloader::abandon()
{
    abandoned_ = true;
    SetEvent(abandon_.get());
}

void CALLBACK CHttpDownloader::statusCallback(HINTERNET, DWORD_PTR context, DWORD status, void* information,
                                              DWORD length)
{
    auto& downloader = *reinterpret_cast<CHttpDownloader*>(context);
    const auto* result =
        length >= sizeof(INTERNET_ASYNC_RESULT) ? static_cast<INTERNET_ASYNC_RESULT*>(information) : nullptr;
    switch (status) {
    case INTERNET_STATUS_HANDLE_CREATED:
        if (result)
            downloader.created_ = reinterpret_cast<HINTERNET>(result->dwResult);
        break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
        downloader.result_ = result ? result->dwResult : 0;
        SetEvent(downloader.completed_.get());
        break;
    case INTERNET_STATUS_HANDLE_CLOSING: // the last callback of the request handle
        SetEvent(downloader.closed_.get());
        break;
    default:
        break;
    }
}

void CHttpDownloader::expectCompletion()
{
    ResetEvent(completed_.get());
}

bool CHttpDownloader::completed(BOOL returned)
{
    if (returned)
        return true;
    if (GetLastError() != ERROR_IO_PENDING)
        return false;
    const HANDLE events[] = {completed_.get(), abandon_.get()};
    return WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 && result_ != 0;
}

HttpDownloadResult CHttpDownloader::Download(const char* url, HANDLE file)
{
    HttpDownloadResult result;
    watch_.progress();
    if (!abandon_ || !completed_ || !closed_) {
        result.status = 1;
        return result;
    }
    UniqueInternetHandle internet(
        InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC));
    if (!internet || InternetSetStatusCallbackA(internet.get(), statusCallback) == INTERNET_INVALID_STATUS_CALLBACK) {
        result.status = 1;
        return result;
    }
    // WinINet's own limit can be an hour; the request inherits the session's.
    DWORD timeout = kSilenceMs;
    InternetSetOptionA(internet.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);

    // The request handle is closed here only, before its session. Its last callback,
    // which reaches this object, is waited for once a handle was made for the request,
    // whoever closes it (WinINet closes one whose request failed).
    struct Request {
        CHttpDownloader& downloader;
        UniqueInternetHandle handle;
        ~Request()
        {
            const bool made = handle || downloader.created_;
            handle.close();
            if (made)
                WaitForSingleObject(downloader.closed_.get(), INFINITE);
        }
    } request{*this, UniqueInternetHandle()};
    const auto context = reinterpret_cast<DWORD_PTR>(this);
    expectCompletion();
    const HINTERNET opened = InternetOpenUrlA(internet.get(), url, nullptr, 0, INTERNET_FLAG_RELOAD, context);
    if (opened) {
        request.handle.reset(opened);
    } else if (GetLastError() == ERROR_IO_PENDING) {
        // Not cut short by abandon(): WinINet closes the handle of a request that fails,
        // so only the completion says whose the handle is. The session's time-outs bound
        // the wait, and the waiting side does not wait for this thread.
        if (WaitForSingleObject(completed_.get(), INFINITE) == WAIT_OBJECT_0 && result_ != 0)
            request.handle.reset(reinterpret_cast<HINTERNET>(result_.load()));
    }
    if (!request.handle || abandoned()) {
        result.status = 2;
        return result;
    }
    InternetSetOptionA(request.handle.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    char statusText[32] = {};
    DWORD statusLength = sizeof statusText;
    if (!HttpQueryInfoA(request.handle.get(), HTTP_QUERY_STATUS_CODE, statusText, &statusLength, nullptr)) {
        result.status = 3;
        return result;
    }
    result.status = leadingNumber(statusText);
    if (result.status >= 400)
        return result;

    const std::optional<std::uint64_t> announced = announcedLength(request.handle.get());
    Body body(*this, request.handle.get(), file);
    const BodyReadEnd end = readBody(body, chunk_, watch_, result.status == 200 ? &body : nullptr);
    result.size = static_cast<std::int64_t>(end.total);
    result.writeFailed = end.writeFailed;
    if (end.total == 0)
        result.status = 4;
    else if (end.readFailed || (announced && end.total < *announced)) // a torn copy is no download
        result.status = 5;
    return result;
}
