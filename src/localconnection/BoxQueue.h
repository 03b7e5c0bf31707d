// Where the transport's failure reports go. The launcher shows each one in a message box
// (no owner, the error icon, OK); a console tool sets a sink that writes them elsewhere,
// since a box would hang a script that nobody watches.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace lc {

using ReportSink = void (*)(const char* caption, const char* text);

// The process-wide sink; null puts the message boxes back. Set it before any connector runs.
void setReportSink(ReportSink sink);
// Hands one report to the sink, on the calling thread; a box returns once dismissed.
void report(const char* caption, const char* text);

// Reports raised inside a locked pass, held until the pass has let go of the mutex and
// then handed on in the order they were raised: no box ever locks every Flash Player.
class BoxQueue {
public:
    void add(std::string text, const char* caption) { boxes_.emplace_back(std::move(text), caption); }
    void showAll();

private:
    std::vector<std::pair<std::string, const char*>> boxes_;
};

} // namespace lc
