#include "reports/ReportNotes.h"

namespace notes {

namespace {

// Written by the main thread only, read by a report's thread at any moment: each byte is
// an atomic of its own, so a read that meets a write is torn, never undefined.
struct Call {
    std::atomic<DWORD> began{0};
    std::atomic<const std::atomic<std::uint64_t>*> bytesSoFar{nullptr};
    std::atomic<char> method[kMethodBytes]{};
    std::atomic<char> url[kUrlBytes]{};
};

Call g_calls[kNotedCalls];
std::atomic<int> g_depth{0};
std::atomic<DWORD> g_mainThread{0};
std::atomic<DWORD> g_reportingThread{0};
std::atomic<DWORD> g_lastAnswer{0};
std::atomic<bool> g_watched{false};

template <std::size_t N>
void store(std::atomic<char> (&into)[N], const std::string& text)
{
    const std::size_t count = text.size() < N - 1 ? text.size() : N - 1;
    for (std::size_t i = 0; i < count; ++i)
        into[i].store(text[i], std::memory_order_relaxed);
    into[count].store('\0', std::memory_order_release);
}

// Appends to a fixed buffer, cutting what does not fit.
class Writer {
public:
    Writer(char* out, std::size_t size) : out_(out), size_(size) {}

    void put(char c)
    {
        if (length_ < size_)
            out_[length_++] = c;
    }
    void text(const char* text)
    {
        while (*text)
            put(*text++);
    }
    void number(std::uint64_t value)
    {
        char digits[20];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count > 0)
            put(digits[--count]);
    }
    template <std::size_t N>
    void noted(const std::atomic<char> (&text)[N])
    {
        for (std::size_t i = 0; i < N; ++i) {
            const char c = text[i].load(std::memory_order_acquire);
            if (c == '\0')
                break;
            // One line per value, whatever the game sent.
            put(static_cast<unsigned char>(c) < 0x20 ? '?' : c);
        }
    }
    void callKey(int index, const char* name)
    {
        text("call");
        number(static_cast<std::uint64_t>(index) + 1);
        put('.');
        text(name);
        put('=');
    }
    std::size_t length() const { return length_; }

private:
    char* out_;
    std::size_t size_;
    std::size_t length_ = 0;
};

} // namespace

CallUnderWay::CallUnderWay(const std::string& method) : level_(g_depth.load())
{
    if (level_ < kNotedCalls) {
        Call& call = g_calls[level_];
        call.bytesSoFar.store(nullptr);
        call.url[0].store('\0');
        store(call.method, method);
        call.began.store(GetTickCount());
    }
    g_depth.store(level_ + 1, std::memory_order_release);
}

CallUnderWay::~CallUnderWay()
{
    // The transfer a download noted may be freed once its call has ended.
    if (level_ < kNotedCalls)
        g_calls[level_].bytesSoFar.store(nullptr);
    g_depth.store(level_, std::memory_order_release);
}

void noteDownload(const std::string& url, const std::atomic<std::uint64_t>* bytesSoFar)
{
    const int level = g_depth.load() - 1;
    if (level < 0 || level >= kNotedCalls)
        return;
    store(g_calls[level].url, url);
    g_calls[level].bytesSoFar.store(bytesSoFar);
}

void noteMainThread(DWORD threadId)
{
    g_mainThread.store(threadId);
}

void noteReportingThread(DWORD threadId)
{
    g_reportingThread.store(threadId);
}

void noteAnswered(DWORD tick)
{
    g_lastAnswer.store(tick);
    g_watched.store(true);
}

DWORD mainThreadId()
{
    return g_mainThread.load();
}

std::size_t writeNotes(char* out, std::size_t size)
{
    Writer writer(out, size);
    const DWORD now = GetTickCount();
    writer.text("main_thread=");
    writer.number(g_mainThread.load());
    writer.put('\n');
    writer.text("reporting_thread=");
    writer.number(g_reportingThread.load());
    writer.put('\n');
    if (g_watched.load()) {
        writer.text("main_silent_ms=");
        writer.number(now - g_lastAnswer.load());
        writer.put('\n');
    }
    const int depth = g_depth.load(std::memory_order_acquire);
    writer.text("calls=");
    writer.number(static_cast<std::uint64_t>(depth < 0 ? 0 : depth));
    writer.put('\n');
    for (int i = 0; i < depth && i < kNotedCalls; ++i) {
        const Call& call = g_calls[i];
        writer.callKey(i, "method");
        writer.noted(call.method);
        writer.put('\n');
        writer.callKey(i, "ms");
        writer.number(now - call.began.load());
        writer.put('\n');
        if (call.url[0].load() != '\0') {
            writer.callKey(i, "url");
            writer.noted(call.url);
            writer.put('\n');
        }
        // Read through the system, which fails where a plain read would fault: the count
        // belongs to a transfer that its call may be letting go of right now.
        std::uint64_t bytes = 0;
        if (const auto* counter = call.bytesSoFar.load();
            counter && ReadProcessMemory(GetCurrentProcess(), counter, &bytes, sizeof bytes, nullptr)) {
            writer.callKey(i, "bytes");
            writer.number(bytes);
            writer.put('\n');
        }
    }
    return writer.length();
}

} // namespace notes
