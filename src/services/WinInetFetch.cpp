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

HINTERNET CHttpDownloader::adopt(UniqueInternetHandle& slot, HINTERNET handle)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (abandoned_) {
        if (handle)
            InternetCloseHandle(handle);
        return nullptr;
    }
    slot.reset(handle);
    return handle;
}

void CHttpDownloader::closeHandles()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    request_.close(); // before its session
    internet_.close();
}

void CHttpDownloader::abandon()
{
    abandoned_ = true;
    closeHandles();
}

HttpDownloadResult CHttpDownloader::Download(const char* url, HANDLE file)
{
    struct Closer {
        CHttpDownloader& downloader;
        ~Closer() { downloader.closeHandles(); }
    } closer{*this};
    HttpDownloadResult result;
    lastProgress_ = GetTickCount();
    const HINTERNET internet =
        adopt(internet_, InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) {
        result.status = 1;
        return result;
    }
    // WinINet's own limit can be an hour; the request inherits the session's.
    DWORD timeout = kSilenceMs;
    InternetSetOptionA(internet, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    const HINTERNET request = adopt(request_, InternetOpenUrlA(internet, url, nullptr, 0, INTERNET_FLAG_RELOAD, 0));
    if (!request) {
        result.status = 2;
        return result;
    }
    InternetSetOptionA(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    char statusText[32] = {};
    DWORD statusLength = sizeof statusText;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE, statusText, &statusLength, nullptr)) {
        result.status = 3;
        return result;
    }
    result.status = leadingNumber(statusText);
    if (result.status >= 400)
        return result;

    const std::optional<std::uint64_t> announced = announcedLength(request);
    const bool keep = result.status == 200;
    std::uint64_t total = 0;
    bool readFailed = false;
    DWORD readSize = kTrickleReadSize; // until the body has shown its pace
    for (;;) {
        DWORD got = 0;
        const DWORD began = GetTickCount();
        if (!InternetReadFile(request, chunk_.data(), readSize, &got) || abandoned_) {
            readFailed = true;
            break;
        }
        if (got == 0)
            break;
        const DWORD now = GetTickCount();
        lastProgress_ = now;
        readSize = now - began <= kFastReadMs ? kReadSize : kTrickleReadSize;
        total += got;
        if (keep && !writeAll(file, chunk_.data(), got)) {
            result.writeFailed = true;
            break;
        }
    }
    result.size = static_cast<std::int64_t>(total);
    if (total == 0)
        result.status = 4;
    else if (readFailed || (announced && total < *announced)) // a torn copy is no download
        result.status = 5;
    return result;
}
