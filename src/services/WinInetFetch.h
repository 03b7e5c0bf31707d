// Fetches one URL over HTTP with WinINet, the body going to a file as it arrives.
#pragma once

#include "services/BodyRead.h"
#include "services/SilenceWatch.h"
#include "win/InternetHandle.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
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
//
// The thread that runs Download owns the transfer's WinINet handles and is the only one
// to use or close them. WinINet recycles handle values at once, so a handle closed by
// another thread could be the next transfer's by the time this one's thread used it
// again. The session is asynchronous instead: a call that would wait returns
// ERROR_IO_PENDING, the thread waits for its completion or for abandon(), and on
// abandon it closes the handle itself, which cancels the pending call, and calls
// nothing more with it.
class CHttpDownloader {
public:
    // Measured under Wine: a read costs about the same whatever its size, so 256 MiB took
    // about 1.25 s in 64 KiB reads and 0.55 s in 1 MiB reads (see bench/README.md). A
    // read takes what has come, up to this, without waiting for more: this is the size
    // of a read while the body comes faster than it is read. The buffer is the only
    // memory a transfer holds, whatever the body's size.
    static constexpr DWORD kReadSize = 1024 * 1024;
    // A receive that gets no byte for this long fails: the body is cut.
    static constexpr DWORD kSilenceMs = kBodySilenceMs;

    CHttpDownloader();
    CHttpDownloader(const CHttpDownloader&) = delete;
    CHttpDownloader& operator=(const CHttpDownloader&) = delete;

    // Writes a status-200 body to `file` read by read (other bodies are read and dropped).
    HttpDownloadResult Download(const char* url, HANDLE file);

    // From another thread: ends a pending request or read at once, and the transfer
    // with it; the handles are closed by the transfer's own thread.
    void abandon();
    bool abandoned() const { return abandoned_.load(); }

    // Stamped at construction, before the transfer's thread starts, and by every batch
    // of body bytes, however small.
    const SilenceWatch& watch() const { return watch_; }

    std::vector<std::uint8_t>& chunk() { return chunk_; }

    // Body bytes written to the file so far: read from any thread, a report's among them.
    const std::atomic<std::uint64_t>& written() const { return written_; }

private:
    class Body;
    static void CALLBACK statusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, void* information,
                                        DWORD length);
    // Before each call: a completion reported for an earlier call that had returned at
    // once must not pass for this one's.
    void expectCompletion();
    // What a WinINet call `returned`, once complete: a pending call is waited for, and
    // counts as failed once abandoned.
    bool completed(BOOL returned);

    std::vector<std::uint8_t> chunk_;
    SilenceWatch watch_{[] { return static_cast<std::uint32_t>(GetTickCount()); }};
    std::atomic<bool> abandoned_{false};
    std::atomic<std::uint64_t> written_{0};
    UniqueHandle abandon_;   // manual reset: set once, by abandon()
    UniqueHandle completed_; // auto reset: one pending call's completion
    UniqueHandle closed_;    // manual reset: the request handle's last callback came
    // Written by WinINet's callback, read by the transfer's thread once completed_ is set.
    std::atomic<HINTERNET> created_{nullptr};
    std::atomic<DWORD_PTR> result_{0};
    DWORD available_ = 0; // written by a pending query
    DWORD got_ = 0;       // written by a pending read
    INTERNET_BUFFERSA buffers_ = {};
};
