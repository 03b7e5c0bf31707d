#include "download/WireUrl.h"

#include "text/Utf16.h"

#include <algorithm>
#include <utility>

namespace {

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

void appendEncoded(std::string& out, std::string_view text)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += '%';
            out += kDigits[byte >> 4];
            out += kDigits[byte & 15];
        }
    }
}

// Where the host lies in "scheme://user@host:port/...": [begin, end), or empty.
std::pair<std::size_t, std::size_t> hostSpan(std::string_view url)
{
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos || scheme == 0)
        return {0, 0};
    const std::size_t authority = scheme + 3;
    const std::size_t authorityEnd = std::min(url.find_first_of("/?#\\", authority), url.size());
    const std::size_t at = url.substr(0, authorityEnd).rfind('@');
    const std::size_t begin = at == std::string_view::npos || at < authority ? authority : at + 1;
    std::size_t end = authorityEnd;
    if (begin < end && url[begin] != '[') { // an IPv6 address in brackets holds colons
        const std::size_t colon = url.substr(0, end).find(':', begin);
        if (colon != std::string_view::npos)
            end = colon;
    }
    return {begin, end};
}

} // namespace

std::string wireUrl(std::string_view url, HostToAscii hostToAscii)
{
    if (isAscii(url))
        return std::string(url);
    const std::string text = text::toUtf8(std::u16string_view(text::toUtf16<char16_t>(url)));
    const auto [begin, end] = hostSpan(text);
    const std::string_view host = std::string_view(text).substr(begin, end - begin);
    std::string mapped;
    if (!isAscii(host) && hostToAscii)
        mapped = hostToAscii(host);
    std::string out;
    out.reserve(text.size() * 3);
    appendEncoded(out, std::string_view(text).substr(0, begin));
    if (mapped.empty() || !isAscii(mapped))
        appendEncoded(out, host);
    else
        out += mapped;
    appendEncoded(out, std::string_view(text).substr(end));
    return out;
}
