#include "localconnection/Trace.h"

#include "localconnection/MessageText.h"

#include <windows.h>

#include <new>
#include <string>

namespace lc {

namespace {

// A trace line there is no memory for is lost; the caller goes on.
template <typename BuildLine>
void traceLine(BuildLine build) noexcept
{
    try {
        OutputDebugStringA(("tovin: " + build() + "\n").c_str());
    } catch (const std::bad_alloc&) {
    }
}

} // namespace

void traceCall(const CFlashLocalConnectionCall& call)
{
    traceLine([&] { return "call " + callText(call.getMethodName(), call); });
}

void traceAnswer(const char* replyName, const char* callback, const CFlashLocalConnectionCall& arguments, bool written)
{
    traceLine([&] {
        return std::string(written ? "answer to " : "answer not sent to ") + replyName + ": " +
               callText(callback, arguments);
    });
}

void traceBox(const char* caption, const char* text)
{
    traceLine([&] { return std::string("box ") + caption + ": " + text; });
}

} // namespace lc
