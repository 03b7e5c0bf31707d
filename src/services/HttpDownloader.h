// Fetches one URL over HTTP into memory with WinINet.
#pragma once

#include <cstdint>
#include <vector>

struct HttpDownloadResult {
    std::vector<std::uint8_t> data; // the body; empty when none was kept
    std::int32_t size = 0;
    // The server's HTTP status, or a failure code:
    // 0 status text without a number, 1 no internet handle, 2 the request failed,
    // 3 no status code, 4 no body byte below status 400, 5 the body was not received whole.
    std::int32_t status = 0;
};

class CHttpDownloader {
public:
    HttpDownloadResult Download(const char* url);
};
