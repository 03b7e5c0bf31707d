#include "amf/ValueSyntax.h"

#include "amf/TextEncoding.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <string>

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

void appendUtf8(std::string& out, unsigned long codePoint)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// A strict JSON reader over one text, positioned by the caller.
class JsonReader {
public:
    JsonReader(std::string_view text, std::size_t at, ValueSyntaxError& error, ValueOrder order)
        : text_(text), at_(at), error_(error), order_(order)
    {
    }

    std::size_t at() const { return at_; }

    AmfValuePtr value(int depth)
    {
        skipSpace();
        if (at_ >= text_.size())
            return fail("a value is missing");
        switch (text_[at_]) {
        case '"': {
            std::string utf8;
            if (!string(utf8))
                return nullptr;
            return std::make_unique<CFlashAMFString>(utf8ToAnsi(utf8));
        }
        case '[':
            return array(depth + 1);
        case '{':
            return object(depth + 1);
        default:
            return scalar();
        }
    }

    // The length of a JSON number at the start of `text`, or 0.
    static std::size_t numberLength(std::string_view text)
    {
        std::size_t i = 0;
        if (i < text.size() && text[i] == '-')
            ++i;
        if (i >= text.size() || !isDigit(text[i]))
            return 0;
        if (text[i] == '0')
            ++i;
        else
            while (i < text.size() && isDigit(text[i]))
                ++i;
        if (i < text.size() && text[i] == '.') {
            if (i + 1 >= text.size() || !isDigit(text[i + 1]))
                return 0;
            for (++i; i < text.size() && isDigit(text[i]);)
                ++i;
        }
        if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
            std::size_t j = i + 1;
            if (j < text.size() && (text[j] == '+' || text[j] == '-'))
                ++j;
            if (j >= text.size() || !isDigit(text[j]))
                return 0;
            while (j < text.size() && isDigit(text[j]))
                ++j;
            i = j;
        }
        return i;
    }

    static double numberValue(std::string_view digits) { return std::strtod(std::string(digits).c_str(), nullptr); }

    void skipSpace()
    {
        while (at_ < text_.size() && isSpace(text_[at_]))
            ++at_;
    }

    std::nullptr_t fail(const char* message)
    {
        if (error_.message.empty()) {
            error_.message = message;
            // Characters, not bytes: a UTF-8 continuation byte does not start one.
            std::size_t characters = 0;
            for (std::size_t i = 0; i < at_ && i < text_.size(); ++i)
                characters += (static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80;
            error_.position = characters + 1;
        }
        return nullptr;
    }

private:
    bool hex4(unsigned long& out)
    {
        if (at_ + 4 > text_.size())
            return fail("\\u needs four hex digits"), false;
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_ + i];
            const int digit = isDigit(c)               ? c - '0'
                              : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                              : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                       : -1;
            if (digit < 0)
                return fail("\\u needs four hex digits"), false;
            out = out * 16 + static_cast<unsigned long>(digit);
        }
        at_ += 4;
        return true;
    }

    bool string(std::string& out)
    {
        ++at_; // the opening quote
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '"') {
                ++at_;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                return fail("a control character must be escaped in a string"), false;
            if (c != '\\') {
                out += c;
                ++at_;
                continue;
            }
            if (++at_ >= text_.size())
                break;
            const char escaped = text_[at_++];
            switch (escaped) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                unsigned long code = 0;
                if (!hex4(code))
                    return false;
                if (code >= 0xD800 && code <= 0xDBFF) {
                    unsigned long low = 0;
                    if (at_ + 2 > text_.size() || text_[at_] != '\\' || text_[at_ + 1] != 'u')
                        return fail("a lone surrogate"), false;
                    at_ += 2;
                    if (!hex4(low))
                        return false;
                    if (low < 0xDC00 || low > 0xDFFF)
                        return fail("a lone surrogate"), false;
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code <= 0xDFFF) {
                    return fail("a lone surrogate"), false;
                }
                appendUtf8(out, code);
                break;
            }
            default:
                --at_;
                return fail("an unknown escape"), false;
            }
        }
        return fail("the string is not closed"), false;
    }

    AmfValuePtr array(int depth)
    {
        if (depth > kMaxValueNesting)
            return fail("containers are nested too deep");
        ++at_;
        std::vector<AmfValuePtr> items;
        skipSpace();
        if (at_ < text_.size() && text_[at_] == ']') {
            ++at_;
            return std::make_unique<CFlashAMFArray>();
        }
        for (;;) {
            AmfValuePtr item = value(depth);
            if (!item)
                return nullptr;
            items.push_back(std::move(item));
            skipSpace();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == ']')
                break;
            return fail("',' or ']' expected");
        }
        ++at_;
        if (order_ == ValueOrder::ForTheWire)
            std::reverse(items.begin(), items.end());
        auto array = std::make_unique<CFlashAMFArray>();
        for (AmfValuePtr& item : items)
            array->push(std::move(item));
        return array;
    }

    AmfValuePtr object(int depth)
    {
        if (depth > kMaxValueNesting)
            return fail("containers are nested too deep");
        ++at_;
        std::vector<CFlashAMFAssociativeArray::Member> members;
        std::size_t dateAt = 0;
        skipSpace();
        if (at_ < text_.size() && text_[at_] == '}') {
            ++at_;
            return std::make_unique<CFlashAMFAssociativeArray>();
        }
        for (;;) {
            skipSpace();
            if (at_ >= text_.size() || text_[at_] != '"')
                return fail("a quoted key expected");
            std::string key;
            if (!string(key))
                return nullptr;
            skipSpace();
            if (at_ >= text_.size() || text_[at_] != ':')
                return fail("':' expected");
            ++at_;
            skipSpace();
            if (key == "$date")
                dateAt = at_;
            AmfValuePtr member = value(depth);
            if (!member)
                return nullptr;
            members.emplace_back(utf8ToAnsi(key), std::move(member));
            skipSpace();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == '}')
                break;
            return fail("',' or '}' expected");
        }
        // {"$date": MS} alone is a date; with other members "$date" is just a key.
        if (members.size() == 1 && dateAt) {
            const CFlashAMFObject* time = members[0].second.get();
            if (time->getType() != kAmfNumber) {
                at_ = dateAt;
                return fail("\"$date\" takes milliseconds since 1970");
            }
            ++at_;
            return std::make_unique<CFlashAMFDate>(time->toNumber(), 0);
        }
        ++at_;
        if (order_ == ValueOrder::ForTheWire)
            std::reverse(members.begin(), members.end());
        auto object = std::make_unique<CFlashAMFAssociativeArray>();
        object->addMembers(std::make_move_iterator(members.begin()), std::make_move_iterator(members.end()));
        return object;
    }

    AmfValuePtr scalar()
    {
        const std::string_view rest = text_.substr(at_);
        for (const char* word : {"true", "false", "null"}) {
            const std::string_view literal(word);
            if (rest.substr(0, literal.size()) == literal) {
                at_ += literal.size();
                if (literal == "null")
                    return std::make_unique<CFlashAMFNull>();
                return std::make_unique<CFlashAMFBoolean>(literal == "true");
            }
        }
        const std::size_t length = numberLength(rest);
        if (length == 0)
            return fail("a value expected");
        at_ += length;
        return std::make_unique<CFlashAMFNumber>(numberValue(rest.substr(0, length)));
    }

    std::string_view text_;
    std::size_t at_;
    ValueSyntaxError& error_;
    ValueOrder order_;
};

bool startsJson(char c)
{
    return c == '"' || c == '[' || c == '{';
}

// A word that does not begin like a container or a string: a JSON literal or number
// when it is exactly one, else the word itself as a string.
AmfValuePtr bareWord(std::string_view word)
{
    if (word == "true" || word == "false")
        return std::make_unique<CFlashAMFBoolean>(word == "true");
    if (word == "null")
        return std::make_unique<CFlashAMFNull>();
    // Numbers JSON cannot write but ActionScript can send, spelt as ActionScript spells them.
    if (word == "NaN")
        return std::make_unique<CFlashAMFNumber>(std::numeric_limits<double>::quiet_NaN());
    if (word == "Infinity" || word == "-Infinity")
        return std::make_unique<CFlashAMFNumber>(word[0] == '-' ? -std::numeric_limits<double>::infinity()
                                                                : std::numeric_limits<double>::infinity());
    if (!word.empty() && JsonReader::numberLength(word) == word.size())
        return std::make_unique<CFlashAMFNumber>(JsonReader::numberValue(word));
    return std::make_unique<CFlashAMFString>(utf8ToAnsi(word));
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
    JsonReader reader(word, 0, error, order);
    AmfValuePtr value = reader.value(0);
    if (!value)
        return nullptr;
    reader.skipSpace();
    if (reader.at() != word.size())
        return reader.fail("nothing may follow the value");
    return value;
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
            JsonReader reader(text, at, error, order);
            AmfValuePtr value = reader.value(0);
            if (!value)
                return false;
            at = reader.at();
            if (at < text.size() && !isSpace(text[at])) {
                reader.fail("white space expected after a value");
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
