#include "Flood.h"

#include <windows.h>

namespace {

constexpr char kLauncherName[] = "__qel.external.connector__";
constexpr char kFloodAnswer[] = "onUnknownMethod";

void putString(std::vector<std::uint8_t>& body, const std::string& text)
{
    body.push_back(0x02);
    body.push_back(static_cast<std::uint8_t>(text.size() >> 8));
    body.push_back(static_cast<std::uint8_t>(text.size()));
    body.insert(body.end(), text.begin(), text.end());
}

} // namespace

std::vector<std::uint8_t> floodBody(const std::string& kind, const std::string& replyName)
{
    std::vector<std::uint8_t> unit;
    if (kind == "nulls")
        unit = {0x05};
    else if (kind == "negative")
        unit = {0x0A, 0xFF, 0xFF, 0xFF, 0xFF};
    else
        return {};
    std::vector<std::uint8_t> body;
    putString(body, kLauncherName);
    putString(body, "localhost");
    putString(body, "Flood");
    std::vector<std::uint8_t> reply;
    putString(reply, replyName); // the first argument stands last in the body
    while (body.size() + unit.size() + reply.size() <= lc::kBodyRoom)
        body.insert(body.end(), unit.begin(), unit.end());
    body.insert(body.end(), reply.begin(), reply.end());
    return body;
}

FloodResult runFlood(FlashPlayerPeer& peer, const std::vector<std::uint8_t>& body,
                     const std::vector<std::string>& names, unsigned seconds, unsigned drainMs,
                     std::deque<std::pair<std::string, ReceivedMessage>>& others)
{
    FloodResult result;
    const auto takeAnswers = [&] {
        for (const std::string& name : names) {
            ReceivedMessage message;
            while (peer.receive(name, 0, message)) {
                if (message.call && message.call->getMethodName() == kFloodAnswer)
                    ++result.answered;
                else
                    others.emplace_back(name, std::move(message));
                message = {};
            }
        }
    };
    const ULONGLONG floodEnd = GetTickCount64() + seconds * 1000ULL;
    while (GetTickCount64() < floodEnd) {
        if (peer.sendBody(body, 0))
            ++result.written;
        takeAnswers();
        Sleep(1);
    }
    const ULONGLONG drainEnd = GetTickCount64() + drainMs;
    while (result.answered < result.written && GetTickCount64() < drainEnd) {
        takeAnswers();
        Sleep(2);
    }
    return result;
}
