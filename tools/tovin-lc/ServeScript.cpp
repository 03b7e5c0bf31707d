#include "ServeScript.h"

#include "amf/ValueSyntax.h"
#include "services/Methods.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <initializer_list>
#include <iterator>

namespace {

using Json = nlohmann::json;

constexpr char kAnyValue[] = "*";
static_assert(ServeScript::kMaxNesting == kMaxValueNesting + 4, "the list, the rule, the answer and its args");

// Keys a line of trace --json carries that say nothing about which call a rule takes.
bool describesTracedLine(const std::string& key)
{
    for (const char* traced : {"time", "pid", "kind", "connection", "domain", "sent"})
        if (key == traced)
            return true;
    return false;
}

// Deeper JSON than any value can be is refused before the library builds it.
bool nestsTooDeep(std::string_view json)
{
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > ServeScript::kMaxNesting)
                return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

struct Fault {
    std::string text;
};

// Reads one field; every fault names the rule and the field.
class RuleReader {
public:
    explicit RuleReader(std::size_t index) : rule_("rule " + std::to_string(index + 1)) {}

    [[noreturn]] void fail(const std::string& field, const std::string& text) const
    {
        throw Fault{rule_ + ", \"" + field + "\": " + text};
    }
    [[noreturn]] void failRule(const std::string& text) const { throw Fault{rule_ + ": " + text}; }

    std::string name(const Json& value, const std::string& field) const
    {
        if (!value.is_string() || value.get_ref<const std::string&>().empty())
            fail(field, "takes a name as a string");
        return value.get_ref<const std::string&>();
    }

    // The list's words, each checked as a value and kept in the form trace prints; with
    // `anyAllowed`, "*" takes any value (and is none).
    std::vector<std::optional<std::string>> words(const Json& list, const std::string& field, bool anyAllowed) const
    {
        if (!list.is_array())
            fail(field, anyAllowed ? "takes a list of values, the reply name first" : "takes a list of values");
        std::vector<std::optional<std::string>> words;
        for (std::size_t i = 0; i < list.size(); ++i) {
            // A value written as JSON rather than as a word is the same word.
            const std::string word = list[i].is_string() ? list[i].get<std::string>() : list[i].dump();
            if (anyAllowed && word == kAnyValue) {
                words.emplace_back();
                continue;
            }
            ValueSyntaxError error;
            // As the value is held once read off the wire: what the call's arguments print as.
            const AmfValuePtr value = parseValueWord(word, error);
            if (!value)
                fail(field, "value " + std::to_string(i + 1) + " (" + word + "): bad JSON: " + error.text());
            words.emplace_back(valueWord(value.get()));
        }
        return words;
    }

    unsigned long count(const Json& value, const std::string& field, unsigned long lowest, unsigned long highest,
                        const char* unit) const
    {
        if (!value.is_number_unsigned() || value.get<unsigned long long>() < lowest ||
            value.get<unsigned long long>() > highest)
            fail(field, std::string("takes a whole number") + unit + " from " + std::to_string(lowest) + " to " +
                            std::to_string(highest));
        return static_cast<unsigned long>(value.get<unsigned long long>());
    }

    ServeAnswer answer(const Json& value) const
    {
        if (!value.is_object())
            fail("answer", "takes {\"method\": CALLBACK, \"args\": [...]}, or null for no answer");
        ServeAnswer answer;
        bool named = false;
        for (const auto& [key, field] : value.items()) {
            if (key == "method") {
                answer.method = name(field, "answer.method");
                named = true;
            } else if (key == "args") {
                for (std::optional<std::string>& word : words(field, "answer.args", false))
                    answer.words.push_back(std::move(*word));
            } else if (!describesTracedLine(key)) {
                fail("answer." + key, "unknown field (an answer has method and args)");
            }
        }
        if (!named)
            fail("answer.method", "missing: the callback to call on the reply name");
        return answer;
    }

    ServeRule rule(const Json& value) const
    {
        if (!value.is_object())
            failRule("not an object ({\"method\": ..., ...})");
        ServeRule rule;
        bool named = false;
        for (const auto& [key, field] : value.items()) {
            if (key == "method") {
                rule.method = name(field, key);
                named = true;
            } else if (key == "args") {
                rule.args = words(field, key, true);
            } else if (key == "answer") {
                if (!field.is_null())
                    rule.answer = answer(field);
            } else if (key == "delay_ms") {
                rule.delayMs = count(field, key, 0, ServeScript::kMaxDelayMs, " of milliseconds");
            } else if (key == "times") {
                rule.times = count(field, key, 1, ServeScript::kMaxTimes, "");
            } else if (key == "then") {
                if (field != "end")
                    fail(key, "takes only \"end\" (the serve ends after the answer)");
                rule.end = true;
            } else if (!describesTracedLine(key)) {
                fail(key, "unknown field (a rule has method, args, answer, delay_ms, times and then)");
            }
        }
        if (!named)
            fail("method", "missing: the method the call must have");
        return rule;
    }

private:
    std::string rule_;
};

} // namespace

bool ServeScript::read(std::string_view json, std::string& error)
{
    try {
        if (json.size() > kMaxScriptBytes)
            throw Fault{"the script is larger than " + std::to_string(kMaxScriptBytes / 1024) + " KiB"};
        if (nestsTooDeep(json))
            throw Fault{"containers are nested deeper than " + std::to_string(ServeScript::kMaxNesting)};
        Json list;
        try {
            list = Json::parse(json);
        } catch (const Json::parse_error& fault) {
            // "[json.exception.parse_error.101] parse error at line 2, column 5: ..." without its tag.
            const std::string what = fault.what();
            const std::size_t tag = what.find("] ");
            throw Fault{"bad JSON: " + (tag == std::string::npos ? what : what.substr(tag + 2))};
        }
        if (!list.is_array())
            throw Fault{"the script is not a list of rules ([{\"method\": ...}, ...])"};
        if (rules_.size() + list.size() > kMaxRules)
            throw Fault{"more than " + std::to_string(kMaxRules) + " rules"};
        std::vector<ServeRule> read;
        for (std::size_t i = 0; i < list.size(); ++i)
            read.push_back(RuleReader(rules_.size() + i).rule(list[i]));
        std::move(read.begin(), read.end(), std::back_inserter(rules_));
        return true;
    } catch (const Fault& fault) {
        error = fault.text;
        return false;
    }
}

void ServeScript::addLauncherDefaults()
{
    for (const MethodRow& row : kMethodRows) {
        if (!row.serveDefault)
            continue;
        ServeRule rule;
        rule.method = row.name; // names and callbacks are ASCII: the same in every code page
        if (*row.serveDefault)
            rule.answer = ServeAnswer{row.serveDefault, {}};
        rules_.push_back(std::move(rule));
    }
}

std::string ServeScript::launcherDefaultsText()
{
    std::string text;
    for (const MethodRow& row : kMethodRows) {
        if (!row.serveDefault)
            continue;
        text += (text.empty() ? "" : ", ") + std::string(row.name) + " answers " +
                (*row.serveDefault ? std::string(row.serveDefault) + "()" : std::string("nothing"));
    }
    return text;
}

const ServeRule* ServeScript::match(const CFlashLocalConnectionCall& call)
{
    std::vector<std::string> words; // the call's arguments as trace prints them, made as needed
    const auto& arguments = call.getArguments();
    for (ServeRule& rule : rules_) {
        if ((rule.times != 0 && rule.used >= rule.times) || rule.method != call.getMethodName() ||
            rule.args.size() > arguments.size())
            continue;
        for (auto argument = std::next(arguments.begin(), static_cast<std::ptrdiff_t>(words.size()));
             words.size() < rule.args.size(); ++argument)
            words.push_back(valueWord(argument->get()));
        bool matches = true;
        for (std::size_t i = 0; i < rule.args.size() && matches; ++i)
            matches = !rule.args[i] || *rule.args[i] == words[i];
        if (!matches)
            continue;
        ++rule.used;
        return &rule;
    }
    return nullptr;
}

std::unique_ptr<CFlashLocalConnectionCall> ServeScript::answerRecord(const ServeAnswer& answer, ValueOrder order)
{
    auto record = std::make_unique<CFlashLocalConnectionCall>("");
    for (const std::string& word : answer.words) {
        ValueSyntaxError error; // the word was read once already
        record->addArgument(parseValueWord(word, error, order), false);
    }
    return record;
}
