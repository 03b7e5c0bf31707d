// Where the transport's failure reports go. The launcher shows each one in a message box
// (no owner, the error icon, OK); a console tool sets a sink that writes them elsewhere,
// since a box would hang a script that nobody watches.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace lc {

using ReportSink = void (*)(const char* caption, const char* text);

// The process-wide sink; null puts the message boxes back. Set it before any connector runs.
void setReportSink(ReportSink sink);
// Hands one report to the sink, on the calling thread; a box returns once dismissed.
void report(const char* caption, const char* text);

// At most this many boxes opened by reportWithoutWaiting are open at once: a peer that
// makes every pass fail in a new way cannot fill the desktop (or the address space,
// each box having a thread of its own) with boxes.
constexpr std::size_t kMaxOpenBoxes = 8;

// Hands one report to the sink without waiting for it: a box opens on a thread of its
// own, so a thread that must keep going (the receive loop) is never held by a player who
// has not seen the box. A box whose caption and text are those of one still open is
// not opened again; nor is one beyond kMaxOpenBoxes, or one there is no memory for.
void reportWithoutWaiting(const char* caption, const char* text);

// Reports raised inside a locked pass, held until the pass has let go of the mutex and
// then handed on in the order they were raised: no box ever locks every Flash Player.
// A report there is no memory for is dropped; the pass goes on.
class BoxQueue {
public:
    void add(const char* text, const char* caption) noexcept;
    // Each report waits for the sink in turn (a box, until it is dismissed).
    void showAll();
    // No report waits (reportWithoutWaiting).
    void openAll();

private:
    std::vector<std::pair<std::string, const char*>> boxes_;
};

} // namespace lc
