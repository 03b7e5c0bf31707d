#include "amf/ValueSyntax.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>

namespace {

using Json = nlohmann::ordered_json;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool startsJson(char c)
{
    return c == '"' || c == '[' || c == '{';
}

bool isWordCharacter(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '+' || c == '-' ||
           c == '.';
}

std::size_t characterCount(std::string_view text)
{
    // A UTF-8 continuation byte does not start a character.
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// What JSON cannot say, taken out before the library reads the text: the spelt numbers
// become a 0 padded to the same length (so that positions stay true), every number is
// listed in order so that the reader can put them back, and the extent of one value and
// the place where it first nests too deep are found on the way.
struct Prepared {
    std::string json;
    std::vector<double> numbers;         // a spelt number's value, in the order of all numbers
    std::vector<bool> spelt;             // the number was NaN, Infinity or -Infinity
    std::vector<bool> negative;          // its text begins with '-' (for -0)
    std::vector<std::size_t> objectEnds; // each '}' in the order objects close
    std::size_t end = std::string::npos; // just past the first value, when it closes
    std::size_t tooDeepAt = std::string::npos;
};

Prepared prepare(std::string_view text)
{
    Prepared prepared;
    prepared.json.assign(text);
    std::string& json = prepared.json;
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
                if (depth == 0) {
                    prepared.end = i + 1;
                    return prepared;
                }
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxValueNesting && prepared.tooDeepAt == std::string::npos)
                prepared.tooDeepAt = i;
        } else if (c == ']' || c == '}') {
            if (c == '}')
                prepared.objectEnds.push_back(i);
            if (--depth <= 0) {
                prepared.end = i + 1;
                return prepared;
            }
        } else if (isWordCharacter(c)) {
            std::size_t j = i;
            while (j < json.size() && isWordCharacter(json[j]))
                ++j;
            const std::string_view word = std::string_view(json).substr(i, j - i);
            double value = 0;
            bool spelt = true;
            if (word == "NaN")
                value = std::numeric_limits<double>::quiet_NaN();
            else if (word == "Infinity" || word == "-Infinity")
                value = (word[0] == '-' ? -1 : 1) * std::numeric_limits<double>::infinity();
            else
                spelt = false;
            if (spelt || c == '-' || (c >= '0' && c <= '9')) {
                prepared.numbers.push_back(value);
                prepared.spelt.push_back(spelt);
                prepared.negative.push_back(c == '-');
            }
            if (spelt)
                json.replace(i, j - i, "0" + std::string(j - i - 1, ' '));
            i = j - 1;
        }
    }
    return prepared;
}

// Builds the AMF values straight from the library's events, in the order they come.
class AmfBuilder {
public:
    AmfBuilder(const Prepared& prepared, ValueOrder order) : prepared_(prepared), order_(order) {}

    AmfValuePtr result;
    std::string message;
    std::size_t position = 0; // bytes before the fault

    bool null() { return add(std::make_unique<CFlashAMFNull>()); }
    bool boolean(bool value) { return add(std::make_unique<CFlashAMFBoolean>(value)); }
    bool number_integer(Json::number_integer_t value) { return number(static_cast<double>(value)); }
    bool number_unsigned(Json::number_unsigned_t value) { return number(static_cast<double>(value)); }
    bool number_float(Json::number_float_t value, const std::string&) { return number(value); }
    bool string(std::string& value) { return add(std::make_unique<CFlashAMFString>(std::move(value))); }
    bool binary(Json::binary_t&) { return false; }

    bool start_object(std::size_t) { return open(true); }
    bool key(std::string& key)
    {
        frames_.back().keyIsDate = key == "$date";
        frames_.back().key = std::move(key);
        return true;
    }
    bool end_object()
    {
        Frame frame = std::move(frames_.back());
        frames_.pop_back();
        const std::size_t at = objectsClosed_ < prepared_.objectEnds.size() ? prepared_.objectEnds[objectsClosed_] : 0;
        ++objectsClosed_;
        // {"$date": MS} alone is a date; with other members "$date" is just a key.
        if (frame.members.size() == 1 && frame.dateOnly) {
            const CFlashAMFObject* time = frame.members[0].second.get();
            if (time->getType() != kAmfNumber)
                return fail("\"$date\" takes milliseconds since 1970", at);
            return add(std::make_unique<CFlashAMFDate>(time->toNumber(), 0));
        }
        if (order_ == ValueOrder::ForTheWire)
            std::reverse(frame.members.begin(), frame.members.end());
        auto object = std::make_unique<CFlashAMFAssociativeArray>();
        object->addMembers(std::make_move_iterator(frame.members.begin()),
                           std::make_move_iterator(frame.members.end()));
        return add(std::move(object));
    }
    bool start_array(std::size_t) { return open(false); }
    bool end_array()
    {
        Frame frame = std::move(frames_.back());
        frames_.pop_back();
        if (order_ == ValueOrder::ForTheWire)
            std::reverse(frame.items.begin(), frame.items.end());
        auto array = std::make_unique<CFlashAMFArray>();
        array->reserve(frame.items.size());
        for (AmfValuePtr& item : frame.items)
            array->push(std::move(item));
        return add(std::move(array));
    }

    bool parse_error(std::size_t byte, const std::string&, const nlohmann::detail::exception& fault)
    {
        // "[json.exception.parse_error.101] parse error at line 1, column 6: syntax error
        // while parsing array - unexpected end of input; expected ']'" keeps its end: the
        // place is given in characters of the whole text.
        std::string what = fault.what();
        for (const char* lead : {": ", " - "}) {
            const std::size_t cut = what.find(lead);
            if (cut != std::string::npos)
                what.erase(0, cut + 2 + (lead[0] == ' '));
        }
        return fail(what, byte > 0 ? byte - 1 : 0);
    }

private:
    struct Frame {
        bool object = false;
        bool dateOnly = true; // an object whose keys so far are all "$date"
        bool keyIsDate = false;
        std::string key;
        std::vector<AmfValuePtr> items;
        std::vector<CFlashAMFAssociativeArray::Member> members;
    };

    bool fail(std::string text, std::size_t at)
    {
        if (message.empty()) {
            message = std::move(text);
            position = at;
        }
        return false;
    }

    bool open(bool object)
    {
        if (frames_.size() >= static_cast<std::size_t>(kMaxValueNesting))
            return fail("containers are nested too deep", prepared_.tooDeepAt);
        frames_.emplace_back();
        frames_.back().object = object;
        return true;
    }

    bool number(double value)
    {
        const std::size_t index = numbersTaken_++;
        if (index < prepared_.numbers.size()) {
            if (prepared_.spelt[index])
                value = prepared_.numbers[index];
            else if (value == 0 && prepared_.negative[index])
                value = -0.0; // the library reads -0 as the integer 0
        }
        return add(std::make_unique<CFlashAMFNumber>(value));
    }

    bool add(AmfValuePtr value)
    {
        if (frames_.empty()) {
            result = std::move(value);
            return true;
        }
        Frame& frame = frames_.back();
        if (!frame.object) {
            frame.items.push_back(std::move(value));
            return true;
        }
        frame.dateOnly = frame.dateOnly && frame.keyIsDate;
        frame.members.emplace_back(std::move(frame.key), std::move(value));
        return true;
    }

    const Prepared& prepared_;
    ValueOrder order_;
    std::vector<Frame> frames_;
    std::size_t numbersTaken_ = 0;
    std::size_t objectsClosed_ = 0;
};

// One JSON value (with the additions) at the start of `text`; `used` is where it ended.
AmfValuePtr parseJson(std::string_view text, std::size_t offset, bool whole, ValueSyntaxError& error, ValueOrder order,
                      std::size_t& used)
{
    const std::string_view from = text.substr(offset);
    const Prepared prepared = prepare(from);
    used = whole || prepared.end == std::string::npos ? from.size() : prepared.end;
    AmfBuilder builder(prepared, order);
    const std::string_view json = std::string_view(prepared.json).substr(0, used);
    if (Json::sax_parse(json.begin(), json.end(), &builder) && builder.result)
        return std::move(builder.result);
    error.message = builder.message.empty() ? "not a value" : builder.message;
    error.position = characterCount(text.substr(0, offset + std::min(builder.position, used))) + 1;
    return nullptr;
}

// A word that does not begin like a container or a string: a JSON literal or number
// (or a spelt one) when it is exactly one, else the word itself as a string.
AmfValuePtr bareWord(std::string_view word)
{
    if (!word.empty() && (isWordCharacter(word[0]))) {
        ValueSyntaxError ignored;
        std::size_t used = 0;
        if (std::all_of(word.begin(), word.end(), isWordCharacter))
            if (AmfValuePtr value = parseJson(word, 0, true, ignored, ValueOrder::AsTyped, used))
                return value;
    }
    return std::make_unique<CFlashAMFString>(std::string(word));
}

// Well-formed UTF-8: no stray or missing continuation byte, no overlong form, no
// surrogate, nothing past U+10FFFF.
bool isUtf8(std::string_view text)
{
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned lead = at(i);
        const std::size_t extra = lead < 0x80   ? 0
                                  : lead < 0xC2 ? 4
                                  : lead < 0xE0 ? 1
                                  : lead < 0xF0 ? 2
                                  : lead < 0xF5 ? 3
                                                : 4;
        if (extra > 3 || text.size() - i <= extra)
            return false;
        if (extra > 0) {
            // The second byte's range is what rules out overlong forms, surrogates and
            // code points past U+10FFFF.
            const unsigned second = at(i + 1);
            const unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
            const unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
            if (second < low || second > high)
                return false;
            for (std::size_t k = 2; k <= extra; ++k) {
                if ((at(i + k) & 0xC0) != 0x80)
                    return false;
            }
        }
        i += 1 + extra;
    }
    return true;
}

// The library writes a malformed sequence as U+FFFD.
std::string jsonString(const std::string& text)
{
    return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string numberText(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value < 0 ? "-Infinity" : "Infinity";
    // Whole numbers as integers (404, not 404.0), up to where every integer is exact.
    constexpr double kExact = 9007199254740992.0;
    if (value == std::trunc(value) && std::fabs(value) <= kExact && !(value == 0 && std::signbit(value)))
        return std::to_string(static_cast<std::int64_t>(value));
    return Json(value).dump(); // the shortest text that reads back as the same double
}

void appendText(std::string& out, const CFlashAMFObject* value, int depth)
{
    if (!value || depth > kMaxValueNesting) {
        out += "null";
        return;
    }
    switch (value->getType()) {
    case kAmfNumber:
        out += numberText(static_cast<const CFlashAMFNumber*>(value)->value);
        return;
    case kAmfBoolean:
        out += value->toBoolean() ? "true" : "false";
        return;
    case kAmfString:
    case kAmfXml:
        out += jsonString(value->toString());
        return;
    case kAmfDate:
        out += "{\"$date\":" + numberText(static_cast<const CFlashAMFDate*>(value)->time) + "}";
        return;
    case kAmfArray: {
        out += '[';
        const auto& items = static_cast<const CFlashAMFArray*>(value)->items();
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i)
                out += ',';
            appendText(out, items[i].get(), depth + 1);
        }
        out += ']';
        return;
    }
    case kAmfAssociativeArray: {
        // (An object whose one member is "$date" with a number has no form of its own:
        // it reads back as a date.)
        const auto& members = static_cast<const CFlashAMFAssociativeArray*>(value)->members();
        out += '{';
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (i)
                out += ',';
            out += jsonString(members[i].first);
            out += ':';
            appendText(out, members[i].second.get(), depth + 1);
        }
        out += '}';
        return;
    }
    default:
        out += "null";
        return;
    }
}

} // namespace

std::string ValueSyntaxError::text() const
{
    return message + " at character " + std::to_string(position);
}

AmfValuePtr parseValueWord(std::string_view word, ValueSyntaxError& error, ValueOrder order)
{
    error = {};
    const std::size_t first = word.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos || !startsJson(word[first]))
        return bareWord(word);
    std::size_t used = 0;
    return parseJson(word, 0, true, error, order, used);
}

bool parseValueList(std::string_view text, std::vector<AmfValuePtr>& values, ValueSyntaxError& error, ValueOrder order)
{
    error = {};
    std::size_t at = 0;
    for (;;) {
        while (at < text.size() && isSpace(text[at]))
            ++at;
        if (at >= text.size())
            return true;
        if (startsJson(text[at])) {
            std::size_t used = 0;
            AmfValuePtr value = parseJson(text, at, false, error, order, used);
            if (!value)
                return false;
            at += used;
            if (at < text.size() && !isSpace(text[at])) {
                error.message = "white space expected after a value";
                error.position = characterCount(text.substr(0, at)) + 1;
                return false;
            }
            values.push_back(std::move(value));
            continue;
        }
        const std::size_t start = at;
        while (at < text.size() && !isSpace(text[at]))
            ++at;
        values.push_back(bareWord(text.substr(start, at - start)));
    }
}

std::string valueWord(const CFlashAMFObject* value)
{
    if (value && value->getType() == kAmfString) {
        const std::string& text = static_cast<const CFlashAMFString*>(value)->value;
        // Quoted too when a reader's eye or a shell would miss it: empty, control
        // characters, white space at an end; and when it is not UTF-8.
        const bool plain = !text.empty() && text.front() != ' ' && text.back() != ' ' &&
                           std::none_of(text.begin(), text.end(), [](char c) { return c >= 0 && c < 0x20; }) &&
                           isUtf8(text);
        ValueSyntaxError error;
        const AmfValuePtr back = plain ? parseValueWord(text, error) : nullptr;
        if (back && back->getType() == kAmfString && back->toString() == text)
            return text;
    }
    std::string text;
    appendText(text, value, 0);
    return text;
}
