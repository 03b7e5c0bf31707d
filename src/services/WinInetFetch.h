// Fetches one URL over HTTP with WinINet, the body going to a file as it arrives.
#pragma once

#include "win/InternetHandle.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

struct HttpDownloadResult {
    std::int64_t size = 0; // body bytes received
    // The server's HTTP status, or a failure code:
    // 0 status text without a number, 1 no internet handle, 2 the request failed,
    // 3 no status code, 4 no body byte below status 400, 5 the body was not received whole.
    std::int32_t status = 0;
    bool writeFailed = false; // the file refused a write; the transfer stopped there
};

// One transfer, run by one thread; another may abandon it or watch its progress.
class CHttpDownloader {
public:
    // Measured under Wine: a read costs about the same whatever its size, so 256 MiB took
    // about 1.25 s in 64 KiB reads and 0.55 s in 1 MiB reads (see bench/README.md). The
    // buffer is the only memory a transfer holds, whatever the body's size.
    static constexpr DWORD kReadSize = 1024 * 1024;
    // On Windows a read returns only once its buffer is full (Wine's returns what has
    // come), and the silence watch sees progress only between reads: a body that
    // trickles is read in small pieces, so that it is not taken for silence (below about
    // 250 bytes a second it would be).
    static constexpr DWORD kTrickleReadSize = 16 * 1024;
    static constexpr DWORD kFastReadMs = 1000; // a read this quick lets the next be full
    // A receive that gets no byte for this long fails: the body is cut.
    static constexpr DWORD kSilenceMs = 60000;

    CHttpDownloader() : chunk_(kReadSize) {}
    CHttpDownloader(const CHttpDownloader&) = delete;
    CHttpDownloader& operator=(const CHttpDownloader&) = delete;

    // Writes a status-200 body to `file` read by read (other bodies are read and dropped).
    HttpDownloadResult Download(const char* url, HANDLE file);

    // From another thread: closes the transfer's WinINet handles, which ends a blocking
    // read or request, and makes any further read fail.
    void abandon();
    bool abandoned() const { return abandoned_.load(); }
    // GetTickCount() of the transfer's start or of its last byte.
    DWORD lastProgress() const { return lastProgress_.load(); }

    std::vector<std::uint8_t>& chunk() { return chunk_; }

private:
    // Holds `handle` in `slot` and returns it; closes it and returns null once abandoned.
    HINTERNET adopt(UniqueInternetHandle& slot, HINTERNET handle);
    void closeHandles();

    std::vector<std::uint8_t> chunk_;
    std::mutex mutex_; // guards the two handles, which abandon() may close
    UniqueInternetHandle internet_;
    UniqueInternetHandle request_;
    std::atomic<bool> abandoned_{false};
    std::atomic<DWORD> lastProgress_{0};
};
