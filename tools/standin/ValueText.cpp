#include "ValueText.h"

#include <cctype>
#include <cstdlib>

namespace {

class Parser {
public:
    explicit Parser(const std::string& text) : text_(text) {}

    bool parseAll(std::vector<AmfValuePtr>& values)
    {
        for (skipSeparators(); at_ < text_.size(); skipSeparators()) {
            AmfValuePtr value = parseValue();
            if (!value)
                return false;
            values.push_back(std::move(value));
        }
        return true;
    }

    std::string error;

private:
    void skipSeparators()
    {
        while (at_ < text_.size() && (std::isspace(static_cast<unsigned char>(text_[at_])) || text_[at_] == ','))
            ++at_;
    }

    bool fail(const std::string& why)
    {
        error = why + " at " + std::to_string(at_);
        return false;
    }

    bool quoted(std::string& out)
    {
        ++at_;
        while (at_ < text_.size() && text_[at_] != '"') {
            char c = text_[at_++];
            if (c == '\\' && at_ < text_.size()) {
                const char escaped = text_[at_++];
                if (escaped == 'n')
                    c = '\n';
                else if (escaped == 'x' && at_ + 2 <= text_.size()) {
                    c = static_cast<char>(std::strtol(text_.substr(at_, 2).c_str(), nullptr, 16));
                    at_ += 2;
                } else
                    c = escaped;
            }
            out += c;
        }
        if (at_ >= text_.size())
            return fail("unterminated string");
        ++at_;
        return true;
    }

    std::string word()
    {
        const std::size_t start = at_;
        while (at_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[at_])) &&
               std::string(",:[]{}").find(text_[at_]) == std::string::npos)
            ++at_;
        return text_.substr(start, at_ - start);
    }

    AmfValuePtr parseValue()
    {
        skipSeparators();
        if (at_ >= text_.size())
            return fail("missing value"), nullptr;
        const char c = text_[at_];
        if (c == '"') {
            std::string s;
            return quoted(s) ? std::make_unique<CFlashAMFString>(s) : nullptr;
        }
        if (c == '[') {
            ++at_;
            auto array = std::make_unique<CFlashAMFArray>();
            for (skipSeparators(); at_ < text_.size() && text_[at_] != ']'; skipSeparators()) {
                AmfValuePtr item = parseValue();
                if (!item)
                    return nullptr;
                array->push(std::move(item));
            }
            if (at_++ >= text_.size())
                return fail("unterminated array"), nullptr;
            return array;
        }
        if (c == '{') {
            ++at_;
            auto object = std::make_unique<CFlashAMFAssociativeArray>();
            for (skipSeparators(); at_ < text_.size() && text_[at_] != '}'; skipSeparators()) {
                std::string key;
                if (text_[at_] == '"') {
                    if (!quoted(key))
                        return nullptr;
                } else {
                    key = word();
                }
                skipSeparators();
                if (at_ >= text_.size() || text_[at_] != ':')
                    return fail("missing ':'"), nullptr;
                ++at_;
                AmfValuePtr member = parseValue();
                if (!member)
                    return nullptr;
                object->addMember(key, std::move(member));
            }
            if (at_++ >= text_.size())
                return fail("unterminated object"), nullptr;
            return object;
        }
        const std::string token = word();
        if (token == "true" || token == "false")
            return std::make_unique<CFlashAMFBoolean>(token == "true");
        if (token == "null")
            return std::make_unique<CFlashAMFNull>();
        char* end = nullptr;
        const double number = std::strtod(token.c_str(), &end);
        if (token.empty() || *end)
            return fail("bad value '" + token + "'"), nullptr;
        return std::make_unique<CFlashAMFNumber>(number);
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

} // namespace

bool parseValues(const std::string& text, std::vector<AmfValuePtr>& values, std::string& error)
{
    Parser parser(text);
    const bool ok = parser.parseAll(values);
    error = parser.error;
    return ok;
}
