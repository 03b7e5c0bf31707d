#include "download/WinInetFetch.h"

#include "download/ContentLength.h"
#include "download/WireUrl.h"
#include "win/WideText.h"

#include <algorithm>
#include <ctime>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace {

constexpr char kUserAgent[] = "Tovin-HTTP-Agent";
// Always from the server, and never into WinINet's cache: a body written there too
// would cost the player its size again on disk, and the time to write it.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

std::int32_t leadingNumber(std::string_view text)
{
    std::int32_t value = 0;
    for (std::size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9' && value < 100000000; ++i)
        value = value * 10 + (text[i] - '0');
    return value;
}

// A host name beyond ASCII in IDNA's ASCII form, as a browser resolves and sends it.
std::string asciiHost(std::string_view host)
{
    const std::wstring wide = win::widen(host);
    wchar_t ascii[256]; // a DNS name's longest, 253, and room
    const int length = IdnToAscii(0, wide.c_str(), static_cast<int>(wide.size()), ascii, ARRAYSIZE(ascii));
    return length > 0 ? win::narrow(std::wstring_view(ascii, static_cast<std::size_t>(length))) : std::string();
}

// What WinINet's callback and the pending calls write, reached through the requests'
// context value. One for each request, so that a late notice of an earlier request never
// passes for this one's. Kept past its request when its closing notice does not come in
// time, since WinINet may still write into it then (Lingering).
struct Notices {
    UniqueHandle completed{CreateEventA(nullptr, FALSE, FALSE, nullptr)}; // one pending call's completion
    UniqueHandle closed{CreateEventA(nullptr, TRUE, FALSE, nullptr)};     // the request handle's last notice
    std::atomic<bool> created{false};       // WinINet made a request handle, which closing the session closes
    std::atomic<HINTERNET> handle{nullptr}; // the handle it made, from its creation notice
    std::atomic<DWORD_PTR> result{0};
    DWORD available = 0;
    DWORD got = 0;
    INTERNET_BUFFERSA buffers = {};
    std::vector<std::uint8_t> heldChunk; // a read buffer that a pending read may still fill
};

// Notices whose request's last notice had not come when the request was closed: WinINet
// may still write into them (and into the read buffer they hold, if a read was pending),
// so they are kept until that notice comes, and freed by a later request.
class Lingering {
public:
    static void keep(std::unique_ptr<Notices> notices)
    {
        const ExclusiveLock hold(lock_);
        try {
            kept_.push_back(std::move(notices));
        } catch (const std::bad_alloc&) {
            static_cast<void>(notices.release()); // no room to list it: never freed, never reused
        }
    }
    static void sweep()
    {
        const ExclusiveLock hold(lock_);
        std::erase_if(kept_, [](const std::unique_ptr<Notices>& notices) {
            return WaitForSingleObject(notices->closed.get(), 0) == WAIT_OBJECT_0;
        });
    }

private:
    static inline SRWLOCK lock_ = SRWLOCK_INIT;
    static inline std::vector<std::unique_ptr<Notices>> kept_;
};

void CALLBACK statusCallback(HINTERNET, DWORD_PTR context, DWORD status, void* information, DWORD length)
{
    auto& notices = *reinterpret_cast<Notices*>(context);
    const auto* result =
        length >= sizeof(INTERNET_ASYNC_RESULT) ? static_cast<INTERNET_ASYNC_RESULT*>(information) : nullptr;
    switch (status) {
    case INTERNET_STATUS_HANDLE_CREATED:
        // The new handle comes first: documented as the address of an HINTERNET, and in the
        // Knowledge Base as an INTERNET_ASYNC_RESULT whose dwResult holds it.
        if (information && length >= sizeof(HINTERNET))
            notices.handle = *static_cast<HINTERNET*>(information);
        notices.created = true;
        break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
        notices.result = result ? result->dwResult : 0;
        SetEvent(notices.completed.get());
        break;
    case INTERNET_STATUS_HANDLE_CLOSING:
        SetEvent(notices.closed.get());
        break;
    default:
        break;
    }
}

// One request: its session, its request handle and its notices, used and closed by the
// transfer's thread alone. Every wait here ends at abandon() or at its bound.
class Request {
public:
    Request(const InternetCalls& calls, const reask::Limits& limits, HANDLE abandon, std::vector<std::uint8_t>& chunk)
        : calls_(calls), limits_(limits), abandon_(abandon), chunk_(chunk)
    {
    }
    ~Request() { close(); }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // The asynchronous session with its notices and its time-outs; false when there is none.
    bool begin()
    {
        Lingering::sweep();
        try {
            notices_ = std::make_unique<Notices>();
        } catch (const std::bad_alloc&) {
            return false;
        }
        session_ = calls_.open(kUserAgent, INTERNET_FLAG_ASYNC);
        if (!notices_->completed || !notices_->closed || !session_ ||
            calls_.setCallback(session_, statusCallback) == INTERNET_INVALID_STATUS_CALLBACK)
            return false;
        // WinINet's own limits can be an hour; the request inherits the session's. The
        // waits below bound them anyway.
        setLimit(INTERNET_OPTION_CONNECT_TIMEOUT, limits_.requestMs);
        setLimit(INTERNET_OPTION_SEND_TIMEOUT, limits_.requestMs);
        setLimit(INTERNET_OPTION_RECEIVE_TIMEOUT, limits_.silenceMs);
        return true;
    }

    // Sends the request and waits for the response's headers; false when it failed, took
    // longer than the request's bound, or the transfer was abandoned.
    bool open(const char* url, const std::string& headers)
    {
        expectCompletion();
        const HINTERNET opened =
            calls_.openUrl(session_, url, headers.empty() ? nullptr : headers.c_str(), kRequestFlags, context());
        if (opened) {
            request_ = opened;
        } else if (GetLastError() == ERROR_IO_PENDING) {
            // WinINet may make the handle, and send its notices, at any time until it closes it.
            openPending_ = true;
            // The handle is the one its creation notice gave; the completion's result is
            // documented as a Boolean, and only says that the open succeeded.
            if (completed(FALSE, limits_.requestMs))
                request_ = notices_->handle.load();
        }
        return request_ && !abandoned();
    }

    // A response header's text; empty when there is none.
    std::string header(DWORD query) const
    {
        char text[256] = {};
        DWORD length = sizeof text - 1;
        if (!calls_.queryInfo(request_, query, text, &length))
            return {};
        return std::string(text, length < sizeof text ? length : sizeof text - 1);
    }

    // How many bytes have come, waiting (at most the silence limit) when none has.
    bool available(std::uint32_t& count)
    {
        for (;;) {
            if (abandoned())
                return false;
            notices_->available = 0;
            expectCompletion();
            const BOOL done = calls_.queryDataAvailable(request_, &notices_->available);
            if (!completed(done, limits_.silenceMs))
                return false;
            if (done) {
                count = notices_->available;
                return true;
            }
            // Completed later: what has come is buffered now, and the next query says how much.
        }
    }

    // A read that waits (at most the silence limit) for `size` bytes or the end.
    bool read(std::uint8_t* into, std::uint32_t size, std::uint32_t& got)
    {
        if (abandoned())
            return false;
        notices_->got = 0;
        expectCompletion();
        chunkPending_ = true;
        const bool done = completed(calls_.read(request_, into, size, &notices_->got), limits_.silenceMs);
        chunkPending_ = !done;
        got = notices_->got;
        return done;
    }

    // What has come, up to `size`, without waiting for more. Documented never to wait;
    // one that goes pending all the same is waited for. Its completion, as documented,
    // leaves its bytes in the buffer and their count in the length; Wine's instead only
    // waits for bytes and writes nothing (they stay for the next read). So once the call
    // has gone pending, a length still at the size asked is swapped for one past it, which
    // no count can be: a completion that writes a count replaces it, one that writes
    // nothing leaves it, and reads as no byte taken. The buffer has room for that one
    // byte more, should WinINet read the length only now.
    bool readWithoutWaiting(std::uint8_t* into, std::uint32_t size, std::uint32_t& got)
    {
        if (abandoned())
            return false;
        size = std::min<std::uint32_t>(size, static_cast<std::uint32_t>(chunk_.size()) - 1);
        const DWORD unwritten = size + 1;
        INTERNET_BUFFERSA& buffers = notices_->buffers;
        buffers = {};
        buffers.dwStructSize = sizeof buffers;
        buffers.lpvBuffer = into;
        buffers.dwBufferLength = size;
        expectCompletion();
        chunkPending_ = true;
        const BOOL returned = calls_.readWithoutWaiting(request_, &buffers, context());
        if (!returned && GetLastError() == ERROR_IO_PENDING) {
            InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(&buffers.dwBufferLength),
                                       static_cast<LONG>(unwritten), static_cast<LONG>(size));
            SetLastError(ERROR_IO_PENDING);
        }
        const bool done = completed(returned, limits_.silenceMs);
        chunkPending_ = !done;
        got = buffers.dwBufferLength == unwritten ? 0 : buffers.dwBufferLength;
        return done;
    }

private:
    DWORD_PTR context() const { return reinterpret_cast<DWORD_PTR>(notices_.get()); }
    bool abandoned() const { return WaitForSingleObject(abandon_, 0) == WAIT_OBJECT_0; }

    void setLimit(DWORD option, DWORD ms) const { calls_.setOption(session_, option, &ms, sizeof ms); }

    // Before each call: a completion reported for an earlier call that had returned at
    // once must not pass for this one's.
    void expectCompletion() const { ResetEvent(notices_->completed.get()); }

    // What a call `returned`, once complete: a pending call is waited for at most `ms`,
    // and counts as failed once abandoned or past its bound.
    bool completed(BOOL returned, DWORD ms) const
    {
        if (returned)
            return true;
        if (GetLastError() != ERROR_IO_PENDING)
            return false;
        const HANDLE events[] = {notices_->completed.get(), abandon_};
        return WaitForMultipleObjects(2, events, FALSE, ms) == WAIT_OBJECT_0 && notices_->result != 0;
    }

    // Closes the request, then the session, which closes a request WinINet made but never
    // handed over (an open that failed after its handle was made): no bare handle value
    // is ever closed, since WinINet may have given it to another transfer since. Then the
    // request handle's last notice is waited for, bounded; past the bound, what WinINet
    // may still write into is kept until that notice comes (Lingering), and a read
    // buffer it may still fill is replaced. An open that went pending counts as a handle
    // made even before its creation notice: that notice may come later still.
    void close()
    {
        if (!notices_)
            return;
        const bool made = request_ || notices_->created || openPending_;
        if (request_)
            calls_.close(request_);
        if (session_)
            calls_.close(session_);
        if (!made || WaitForSingleObject(notices_->closed.get(), limits_.closeMs) == WAIT_OBJECT_0)
            return;
        if (chunkPending_) {
            notices_->heldChunk.swap(chunk_);
            try {
                chunk_.resize(notices_->heldChunk.size());
            } catch (const std::bad_alloc&) {
                chunk_.clear(); // no buffer: the download ends with this request
            }
        }
        Lingering::keep(std::move(notices_));
    }

    const InternetCalls& calls_;
    const reask::Limits& limits_;
    const HANDLE abandon_;
    std::vector<std::uint8_t>& chunk_;
    std::unique_ptr<Notices> notices_;
    HINTERNET session_ = nullptr;
    HINTERNET request_ = nullptr;
    bool chunkPending_ = false; // a call that fills the read buffer has not completed
    bool openPending_ = false;  // the open returned ERROR_IO_PENDING
};

// A request's body, into the file: every byte written is counted where other threads read it.
class Body : public BodySource, public BodySink {
public:
    Body(Request& request, HANDLE file, std::atomic<std::uint64_t>& written)
        : request_(request), file_(file), written_(written)
    {
    }

    bool available(std::uint32_t& count) override { return request_.available(count); }
    bool read(std::uint8_t* into, std::uint32_t size, std::uint32_t& got) override
    {
        return request_.read(into, size, got);
    }
    bool readWithoutWaiting(std::uint8_t* into, std::uint32_t size, std::uint32_t& got) override
    {
        return request_.readWithoutWaiting(into, size, got);
    }

    bool write(const std::uint8_t* bytes, std::uint32_t count) override
    {
        while (count > 0) {
            DWORD written = 0;
            if (!WriteFile(file_, bytes, count, &written, nullptr) || written == 0)
                return false;
            bytes += written;
            count -= written;
            written_ += written;
        }
        return true;
    }

private:
    Request& request_;
    const HANDLE file_;
    std::atomic<std::uint64_t>& written_;
};

// The file from its start again, for a body that starts over.
bool emptied(HANDLE file)
{
    LARGE_INTEGER start = {};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

} // namespace

// What the next request asks for.
struct CHttpDownloader::Plan {
    std::uint64_t from = 0;  // the first byte missing; 0: the whole body
    std::uint64_t total = 0; // the body's length, when asking from `from`
    std::string validator;   // If-Range: the body must be the same one
    bool bodyCut = false;    // an earlier body was cut: a failure now leaves it short

    // After a cut: the whole body again, from its first byte.
    static Plan whole()
    {
        Plan plan;
        plan.bodyCut = true;
        return plan;
    }
    // After a cut: the bytes from `from` on, of the body `validator` names.
    static Plan resume(std::uint64_t from, std::uint64_t total, std::string validator)
    {
        Plan plan = whole();
        plan.from = from;
        plan.total = total;
        plan.validator = std::move(validator);
        return plan;
    }

    std::string headers() const
    {
        if (from == 0)
            return {};
        return "Range: bytes=" + std::to_string(from) + "-\r\nIf-Range: " + validator + "\r\n";
    }
};

// What one request came to.
struct CHttpDownloader::Attempt {
    enum class Then { Answer, AskAgain, Busy };
    HttpDownloadResult result; // the answer, should this request be the last
    Then then = Then::Answer;
    Plan next;              // the request to follow
    std::string retryAfter; // a busy answer's
    std::string date;       // its Date, which the Retry-After date is read against
};

CHttpDownloader::CHttpDownloader(const reask::Limits& limits, const InternetCalls& calls)
    : limits_(limits), calls_(calls), chunk_(kReadSize), abandon_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
}

void CHttpDownloader::abandon()
{
    abandoned_ = true;
    SetEvent(abandon_.get());
}

HttpDownloadResult CHttpDownloader::Download(const char* url, HANDLE file)
{
    std::string sent;
    try {
        sent = wireUrl(url, asciiHost);
    } catch (const std::bad_alloc&) {
        HttpDownloadResult failed;
        failed.status = failure::kRequestFailed; // no room for the request's URL: it failed before it was made
        return failed;
    }
    Plan plan;
    for (int made = 1;; ++made) {
        watch_.progress(); // a request begins: a sign of life for the main thread's stall limit
        Attempt attempt = ask(sent.c_str(), file, plan);
        if (attempt.then == Attempt::Then::Answer || made == reask::kMaxRequests || abandoned() || chunk_.empty())
            return attempt.result;
        DWORD pauseMs = reask::cutPauseMs(limits_.pausesMs, made);
        if (attempt.then == Attempt::Then::Busy) {
            const std::int64_t now = reask::parseHttpDate(attempt.date).value_or(std::time(nullptr));
            pauseMs = reask::busyPauseMs(limits_.pausesMs, made, attempt.retryAfter, now, limits_.maxRetryAfterMs);
        }
        if (WaitForSingleObject(abandon_.get(), pauseMs) != WAIT_TIMEOUT)
            return attempt.result;
        plan = attempt.next;
    }
}

CHttpDownloader::Attempt CHttpDownloader::ask(const char* url, HANDLE file, const Plan& plan)
{
    Attempt attempt;
    attempt.next = plan;
    HttpDownloadResult& result = attempt.result;
    Request request(calls_, limits_, abandon_.get(), chunk_);
    if (!abandon_ || !request.begin()) {
        result.status = failure::kNoInternet;
        return attempt;
    }
    if (!request.open(url, plan.headers())) {
        // Once a body has been cut, a lost connection is the same network's cut again.
        result.status = plan.bodyCut ? failure::kBodyCut : failure::kRequestFailed;
        attempt.then = plan.bodyCut ? Attempt::Then::AskAgain : Attempt::Then::Answer;
        return attempt;
    }
    const std::string statusText = request.header(HTTP_QUERY_STATUS_CODE);
    if (statusText.empty()) {
        result.status = failure::kNoStatusCode;
        return attempt;
    }
    result.status = leadingNumber(statusText);
    if (reask::isBusy(result.status)) {
        attempt.then = Attempt::Then::Busy;
        attempt.retryAfter = request.header(HTTP_QUERY_RETRY_AFTER);
        attempt.date = request.header(HTTP_QUERY_DATE);
        return attempt;
    }
    if (result.status >= 400)
        return attempt;

    const reask::Fit fit = reask::fitOf(result.status, plan.from, plan.total,
                                        reask::parseContentRange(request.header(HTTP_QUERY_CONTENT_RANGE)));
    if (fit == reask::Fit::AskWhole) { // another part, or another body: once more, whole
        result.status = failure::kBodyCut;
        attempt.then = Attempt::Then::AskAgain;
        attempt.next = Plan::whole();
        return attempt;
    }
    if (fit == reask::Fit::StartOver && written_ > 0) {
        if (!emptied(file)) {
            result.writeFailed = true;
            return attempt;
        }
        written_ = 0;
    }
    const bool kept = fit != reask::Fit::Other;
    // Read as text: the numeric query gives 32 bits, and bodies may be larger.
    const std::optional<std::uint64_t> announced = parseContentLength(request.header(HTTP_QUERY_CONTENT_LENGTH));
    const std::optional<std::uint64_t> total = fit == reask::Fit::Append ? plan.total : announced;

    Body body(request, file, written_);
    const BodyReadEnd end = readBody(body, chunk_, watch_, kept ? &body : nullptr);
    const std::uint64_t have = kept ? written_.load() : end.total;
    result.size = static_cast<std::int64_t>(have);
    result.writeFailed = end.writeFailed;
    const bool whole = !end.readFailed && (!total || have >= *total);
    if (have == 0)
        result.status = failure::kNoBody;
    else if (!whole) // a torn copy is no download
        result.status = failure::kBodyCut;
    else if (kept)
        result.status = 200; // a body resumed ends as one that came whole
    if (whole || !kept || end.writeFailed || !total || abandoned())
        return attempt;

    // Cut: asked again from the first byte missing if the body can be told to be the
    // same one (a strong ETag or Last-Modified), or else whole, never stitched.
    std::string validator =
        reask::validatorOf(request.header(HTTP_QUERY_ETAG), request.header(HTTP_QUERY_LAST_MODIFIED));
    if (validator.empty() && fit == reask::Fit::Append)
        validator = plan.validator;
    attempt.then = Attempt::Then::AskAgain;
    attempt.next = validator.empty() || have == 0 ? Plan::whole() : Plan::resume(have, *total, std::move(validator));
    return attempt;
}
