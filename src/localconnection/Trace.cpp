#include "localconnection/Trace.h"

#include "amf/AmfWriter.h"
#include "localconnection/MessageText.h"

#include <windows.h>

#include <initializer_list>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace lc {

namespace {

// What one OutputDebugStringA reaches a listener with (its 4 KiB buffer less the writer's
// process id and the ending zero); past it the line is cut.
constexpr std::size_t kDebugLineLimit = 4091;
constexpr char kTailMark[] = " |amf ";

// The event again as AMF0 values in hex after the text, for a program that reads the
// trace (tovin-lc trace): names and values come back exactly, whatever the text holds.
// Left out when the whole line would not reach a listener.
std::string amfTail(std::size_t textSize, std::initializer_list<std::string_view> texts,
                    const CFlashLocalConnectionCall* arguments)
{
    const std::size_t fixed = textSize + sizeof kTailMark - 1 + 1;
    if (fixed >= kDebugLineLimit)
        return {};
    const std::size_t room = (kDebugLineLimit - fixed) / 2;
    std::vector<std::uint8_t> area(CFlashAMFWriter::kHeaderSize + room);
    CFlashAMFWriter writer(area.data(), room);
    for (std::string_view text : texts)
        writer.writeStringValue(text);
    if (arguments) {
        for (const auto& argument : arguments->getArguments())
            writer.writeValue(argument.get());
    }
    if (writer.failed())
        return {};
    static const char kDigits[] = "0123456789abcdef";
    std::string tail(kTailMark);
    const std::uint8_t* body = area.data() + CFlashAMFWriter::kHeaderSize;
    for (std::size_t i = 0; i < writer.size(); ++i) {
        tail += kDigits[body[i] >> 4];
        tail += kDigits[body[i] & 15];
    }
    return tail;
}

// The narrow form on purpose: the line is UTF-8, and the debug-output buffer that
// listeners read holds bytes. OutputDebugStringW would only convert to the ANSI code page
// first, turning every name it cannot hold into '?'; tovin-lc trace reads the bytes as
// UTF-8 (a debugger showing them in the code page garbles what lies beyond ASCII).
void traceLine(const std::string& text, std::initializer_list<std::string_view> texts,
               const CFlashLocalConnectionCall* arguments = nullptr)
{
    const std::string line = "tovin: " + text;
    OutputDebugStringA((line + amfTail(line.size(), texts, arguments) + "\n").c_str());
}

// A trace line there is no memory for is lost; the caller goes on.
template <typename Trace>
void dropOnOutOfMemory(Trace trace) noexcept
{
    try {
        trace();
    } catch (const std::bad_alloc&) {
    }
}

} // namespace

void traceCall(const CFlashLocalConnectionCall& call)
{
    dropOnOutOfMemory(
        [&] { traceLine("call " + callText(call.getMethodName(), call), {call.getMethodName()}, &call); });
}

void traceAnswer(const char* replyName, const char* callback, const CFlashLocalConnectionCall& arguments, bool written)
{
    dropOnOutOfMemory([&] {
        traceLine(std::string(written ? "answer to " : "answer not sent to ") + replyName + ": " +
                      callText(callback, arguments),
                  {replyName, callback}, &arguments);
    });
}

void traceBox(const char* caption, const char* text)
{
    dropOnOutOfMemory([&] { traceLine(std::string("box ") + caption + ": " + text, {caption, text}); });
}

} // namespace lc
