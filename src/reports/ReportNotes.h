// What the launcher was doing, for its crash and hang reports: the calls under way (each
// method, and for a download its URL and the bytes written so far), the main thread, and
// when it last answered the watchdog. Noted as it happens into fixed storage, so that a
// report reads it from any thread without allocating. What a report reads while the main
// thread writes may be torn (a URL half old, half new), never out of bounds.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace notes {

// Calls noted at once: as many as may be under way (CallIntake::kMaxNestedCalls, checked
// there); a deeper one is counted, not described.
inline constexpr int kNotedCalls = 8;
// Bytes kept of a method name and of a URL: enough to tell them apart, however long the
// game's are.
inline constexpr std::size_t kMethodBytes = 64;
inline constexpr std::size_t kUrlBytes = 512;

// On the main thread: a call is under way for this object's life.
class CallUnderWay {
public:
    explicit CallUnderWay(const std::string& method);
    ~CallUnderWay();
    CallUnderWay(const CallUnderWay&) = delete;
    CallUnderWay& operator=(const CallUnderWay&) = delete;

private:
    int level_;
};

// On the main thread: the innermost call under way downloads `url`; `bytesSoFar` counts
// what it has written, read by a report at any moment until that call has ended.
void noteDownload(const std::string& url, const std::atomic<std::uint64_t>* bytesSoFar);

// The thread whose silence is a hang (the main thread), the thread that writes the
// reports (its stack in a report is the report's own writing), and the watchdog's last
// answer from the main thread (GetTickCount).
void noteMainThread(DWORD threadId);
void noteReportingThread(DWORD threadId);
void noteAnswered(DWORD tick);
DWORD mainThreadId();

// Writes the notes as "key=value" lines (bytes below 0x20 in a value become '?') into
// `out`, at most `size` bytes, and gives their length. Allocates nothing.
std::size_t writeNotes(char* out, std::size_t size);

} // namespace notes
