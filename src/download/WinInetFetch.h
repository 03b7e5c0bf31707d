// Fetches one URL over HTTP with WinINet, the body going to a file as it arrives. A body
// cut short is asked for again from its first missing byte, and a busy server asked
// again after its pause: at most reask::kMaxRequests requests in all, every wait bounded
// (reask::Limits), the game answered once.
#pragma once

#include "download/BodyRead.h"
#include "download/InternetCalls.h"
#include "download/Reask.h"
#include "download/SilenceWatch.h"
#include "win/WinHandles.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

// What the game gets in place of an HTTP status when none fits: the number of
// onHttpDownloadError. Said once here; the README's table and docs/tovin-lc.md name them.
namespace failure {
inline constexpr std::int32_t kNoStatusNumber = 0; // a status text without a number
inline constexpr std::int32_t kNoInternet = 1;     // WinINet could not be opened
inline constexpr std::int32_t kRequestFailed = 2;  // no server answered (refused, unresolved, no time left)
inline constexpr std::int32_t kNoStatusCode = 3;   // the response carried no status
inline constexpr std::int32_t kNoBody = 4;         // not one body byte, below status 400
inline constexpr std::int32_t kBodyCut = 5;        // the body was not received whole
} // namespace failure

struct HttpDownloadResult {
    std::int64_t size = 0;                          // body bytes received
    std::int32_t status = failure::kNoStatusNumber; // the server's HTTP status, or a failure code
    bool writeFailed = false;                       // the file refused a write; the transfer stopped there
};

// One transfer, run by one thread; another may abandon it, watch its progress or read
// how many bytes it has written.
//
// Each request has a WinINet session of its own, asynchronous, which only the thread that
// runs Download uses and closes: WinINet recycles handle values at once, so a handle
// closed by another thread could be the next transfer's by the time this one's thread
// used it again. A call that would wait returns ERROR_IO_PENDING; the thread then waits
// for its completion, for abandon() or for the wait's bound, whichever comes first, and
// closes the session, which cancels what is pending and closes the request with it.
class CHttpDownloader {
public:
    // Measured under Wine: a read costs about the same whatever its size, so 256 MiB took
    // about 1.25 s in 64 KiB reads and 0.55 s in 1 MiB reads (see bench/README.md). A
    // read takes what has come, up to this, without waiting for more: this is the size
    // of a read while the body comes faster than it is read. The buffer is the only
    // memory a transfer holds, whatever the body's size.
    static constexpr DWORD kReadSize = 1024 * 1024;

    explicit CHttpDownloader(const reask::Limits& limits = {}, const InternetCalls& calls = InternetCalls::system());
    CHttpDownloader(const CHttpDownloader&) = delete;
    CHttpDownloader& operator=(const CHttpDownloader&) = delete;

    // Writes a status-200 body to `file` read by read (other bodies are read and dropped),
    // asking again as Reask.h says. `url` is UTF-8; it goes out as wireUrl makes it. A body asked for again from byte N
    // is appended at N; one that starts over is written from the file's start again.
    HttpDownloadResult Download(const char* url, HANDLE file);

    // From another thread: ends a pending request, read or pause at once, and the
    // transfer with it; the handles are closed by the transfer's own thread.
    void abandon();
    bool abandoned() const { return abandoned_.load(); }
    // Signalled by abandon(), for a wait of the transfer's own to end on.
    HANDLE abandonEvent() const { return abandon_.get(); }

    // Stamped at construction, before the transfer's thread starts, by every batch of
    // body bytes, however small, and as each request begins.
    const SilenceWatch& watch() const { return watch_; }
    std::vector<std::uint8_t>& chunk() { return chunk_; }

    // Body bytes in the file so far (back to 0 when a body starts over): read from any
    // thread, a report's among them.
    const std::atomic<std::uint64_t>& written() const { return written_; }

private:
    struct Plan;
    struct Attempt;
    // One request, its body written or dropped, and what is to follow it.
    Attempt ask(const char* url, HANDLE file, const Plan& plan);

    const reask::Limits limits_;
    const InternetCalls& calls_;
    std::vector<std::uint8_t> chunk_;
    SilenceWatch watch_{[] { return static_cast<std::uint32_t>(GetTickCount()); }};
    std::atomic<bool> abandoned_{false};
    std::atomic<std::uint64_t> written_{0};
    UniqueHandle abandon_; // manual reset: set once, by abandon()
};
