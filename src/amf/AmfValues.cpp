#include "amf/AmfValues.h"

#include <charconv>
#include <cmath>
#include <ctime>

namespace {

// The widest range every runtime's 64-bit local-time conversion accepts
// (the Windows runtime refuses times before 1970 and after the year 3000).
constexpr std::int64_t kLatestDateSeconds = 32535215999; // 3000-12-31 23:59:59 UTC

bool toLocalTime(std::int64_t seconds, std::tm& local)
{
#ifdef _WIN32
    const __time64_t t = seconds;
    return _localtime64_s(&local, &t) == 0;
#else
    const std::time_t t = static_cast<std::time_t>(seconds);
    return localtime_r(&t, &local) != nullptr;
#endif
}

std::string renderSlot(const CFlashAMFObject* value)
{
    return value ? value->toDebugString() : "undefined";
}

} // namespace

std::string formatAmfNumber(double value)
{
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    char text[400]; // DBL_MAX in fixed notation has 309 digits
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    return std::string(text, result.ptr);
}

std::string formatAmfDate(double time, const char* format)
{
    const double seconds = std::trunc(time / 1000.0);
    if (!(seconds >= 0.0 && seconds <= static_cast<double>(kLatestDateSeconds)))
        return "Invalid Date";
    std::tm local{};
    if (!toLocalTime(static_cast<std::int64_t>(seconds), local))
        return "Invalid Date";
    char text[128];
    const std::size_t length = std::strftime(text, sizeof text, format, &local);
    return std::string(text, length);
}

std::string CFlashAMFNumber::toString() const
{
    return formatAmfNumber(value);
}

std::string CFlashAMFNumber::toDebugString() const
{
    return "Number : " + formatAmfNumber(value);
}

std::string CFlashAMFBoolean::toDebugString() const
{
    return std::string("Boolean : ") + (value ? "true" : "false");
}

std::string CFlashAMFDate::toString() const
{
    return formatAmfDate(time, "%Y-%m-%d %H:%M:%S %Z");
}

std::string CFlashAMFDate::toDebugString() const
{
    const std::string text = formatAmfDate(time, "%Y-%m-%d %H:%M:%S %Z");
    return "Date : " + text;
}

std::string CFlashAMFArray::toDebugString() const
{
    std::string text = "Array : {";
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (i)
            text += ", ";
        text += renderSlot(items_[i].get());
    }
    return text + "}";
}

const CFlashAMFObject* CFlashAMFAssociativeArray::findMember(std::string_view key) const
{
    for (const auto& [memberKey, value] : members_) {
        if (memberKey == key)
            return value.get();
    }
    return nullptr;
}

const CFlashAMFObject* CFlashAMFAssociativeArray::findMemberByIndex(int index) const
{
    return findMember(std::to_string(index));
}

std::string CFlashAMFAssociativeArray::toDebugString() const
{
    std::string text = "Array : {";
    for (std::size_t i = 0; i < members_.size(); ++i) {
        if (i)
            text += ", ";
        text += members_[i].first + " => " + renderSlot(members_[i].second.get());
    }
    return text + "}";
}
