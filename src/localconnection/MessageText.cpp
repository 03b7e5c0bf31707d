#include "localconnection/MessageText.h"

#include "amf/AmfReader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace lc {

namespace {

constexpr std::size_t kHexShown = 24;

// The recipient straight from its length bytes, for a body the reader refuses.
std::string rawRecipient(const std::vector<std::uint8_t>& slot)
{
    const std::size_t start = kBodyOffset + 3;
    if (slot.size() < start || slot[kBodyOffset] != 0x02)
        return "?";
    const std::size_t length = (std::size_t{slot[kBodyOffset + 1]} << 8) | slot[kBodyOffset + 2];
    const std::size_t available = std::min(length, slot.size() - start);
    // Up to its first zero byte, as the reader cuts a text.
    const auto* name = reinterpret_cast<const char*>(slot.data() + start);
    const void* zero = std::memchr(name, 0, available);
    return std::string(name, zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - name) : available);
}

std::string undecodable(const std::vector<std::uint8_t>& slot)
{
    const std::uint32_t length = messageLength({const_cast<std::uint8_t*>(slot.data()), slot.size()});
    std::string text = "to " + rawRecipient(slot) + ": " + std::to_string(length) + " bytes that do not decode:";
    const std::size_t shown = std::min(kHexShown, slot.size() - kBodyOffset);
    for (std::size_t i = 0; i < shown; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", slot[kBodyOffset + i]);
        text += hex;
    }
    if (shown < length)
        text += " ...";
    return text;
}

} // namespace

std::string callText(std::string_view method, const CFlashLocalConnectionCall& call)
{
    std::string text(method);
    text += '(';
    bool first = true;
    for (const auto& argument : call.getArguments()) {
        if (!first)
            text += ", ";
        first = false;
        text += argument->toDebugString();
    }
    return text + ')';
}

std::vector<std::string> listenerNames(SectionView view)
{
    std::vector<std::string> names;
    if (!view.data)
        return names;
    const std::size_t limit = std::min(view.size, kTableLimit);
    for (std::size_t offset = kTableOffset; offset < limit && view.data[offset] != 0;) {
        const char* entry = reinterpret_cast<const char*>(view.data + offset);
        const void* zero = std::memchr(entry, 0, limit - offset);
        const std::size_t length =
            zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - entry) : limit - offset;
        names.emplace_back(entry, length);
        offset += length + 1;
    }
    return names;
}

std::vector<std::uint8_t> copySlot(SectionView view)
{
    const std::uint32_t length = messageLength(view);
    if (length == 0)
        return {};
    const std::size_t body = std::min<std::size_t>(length, bodyRoom(view));
    return std::vector<std::uint8_t>(view.data, view.data + kBodyOffset + body);
}

std::string messageText(const std::vector<std::uint8_t>& slot)
{
    if (slot.size() <= kBodyOffset)
        return "free";
    const SectionView view{const_cast<std::uint8_t*>(slot.data()), slot.size()};
    HeaderProblem problem;
    const std::unique_ptr<CFlashLocalConnectionCall> call = deserializeRemoteCall(view, &problem);
    if (!call)
        return undecodable(slot);
    // The call decoded, so its two leading strings do too.
    CFlashAMFReader reader(slot.data() + kBodyOffset, slot.size() - kBodyOffset);
    reader.readByte();
    const std::string recipient = reader.readShortString();
    reader.readByte();
    const std::string domain = reader.readShortString();
    return "to " + recipient + " from " + domain + ": " + callText(call->getMethodName(), *call);
}

} // namespace lc
