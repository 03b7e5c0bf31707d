#include "services/HttpDownloader.h"

#include "services/InternetHandle.h"

#include <windows.h>

#include <new>
#include <stdexcept>

namespace {

constexpr char kUserAgent[] = "Tovin-HTTP-Agent";
constexpr DWORD kChunkSize = 1024;

std::int32_t leadingNumber(const char* text)
{
    std::int32_t value = 0;
    for (; *text >= '0' && *text <= '9' && value < 100000000; ++text)
        value = value * 10 + (*text - '0');
    return value;
}

} // namespace

HttpDownloadResult CHttpDownloader::Download(const char* url)
{
    HttpDownloadResult result;
    UniqueInternetHandle internet(InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) {
        result.status = 1;
        return result;
    }
    UniqueInternetHandle request(InternetOpenUrlA(internet.get(), url, nullptr, 0, INTERNET_FLAG_RELOAD, 0));
    if (!request) {
        result.status = 2;
        return result;
    }
    char statusText[32] = {};
    DWORD statusLength = sizeof statusText;
    if (!HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE, statusText, &statusLength, nullptr)) {
        result.status = 3;
        return result;
    }
    result.status = leadingNumber(statusText);
    if (result.status >= 400)
        return result;

    DWORD announced = 0;
    DWORD announcedLength = sizeof announced;
    const bool hasLength = HttpQueryInfoA(request.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &announced,
                                          &announcedLength, nullptr) != FALSE;
    std::uint8_t chunk[kChunkSize];
    DWORD got = 0;
    bool readFailed = InternetReadFile(request.get(), chunk, kChunkSize, &got) == FALSE;
    if (readFailed) {
        result.status = 4;
        return result;
    }
    try {
        // Room for the announced body at once: no copy on growth and no second buffer
        // beside the first. A length the process cannot hold up front is read as it comes.
        if (hasLength) {
            try {
                result.data.reserve(announced);
            } catch (const std::exception&) {
            }
        }
        while (!readFailed && got > 0) {
            result.data.insert(result.data.end(), chunk, chunk + got);
            readFailed = InternetReadFile(request.get(), chunk, kChunkSize, &got) == FALSE;
        }
    } catch (const std::bad_alloc&) {
        result.data = {};
        result.status = 5;
        return result;
    }
    if (result.data.empty()) {
        result.status = 4;
        return result;
    }
    // A body cut short is no download: the file would hold a torn copy.
    if (readFailed || (hasLength && result.data.size() < announced)) {
        result.data = {};
        result.status = 5;
        return result;
    }
    result.size = static_cast<std::int32_t>(result.data.size());
    return result;
}
