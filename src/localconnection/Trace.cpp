#include "localconnection/Trace.h"

#include "localconnection/MessageText.h"

#include <windows.h>

#include <string>

namespace lc {

namespace {

void traceLine(const std::string& line)
{
    OutputDebugStringA(("tovin: " + line + "\n").c_str());
}

} // namespace

void traceCall(const CFlashLocalConnectionCall& call)
{
    traceLine("call " + callText(call.getMethodName(), call));
}

void traceAnswer(const char* replyName, const char* callback, const CFlashLocalConnectionCall& arguments, bool written)
{
    traceLine(std::string(written ? "answer to " : "answer not sent to ") + replyName + ": " +
              callText(callback, arguments));
}

void traceBox(const char* caption, const char* text)
{
    traceLine(std::string("box ") + caption + ": " + text);
}

} // namespace lc
