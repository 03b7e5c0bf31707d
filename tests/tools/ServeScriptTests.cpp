// tovin-lc serve's script: which rule answers which call, and the one line a script
// with a fault gets.
#include "ServeScript.h"

#include "amf/ValueSyntax.h"
#include "services/Methods.h"

#include <gtest/gtest.h>

namespace {

// A call as it arrives: its arguments held as read off the wire.
std::unique_ptr<CFlashLocalConnectionCall> call(const std::string& method, const std::vector<std::string>& words)
{
    auto record = std::make_unique<CFlashLocalConnectionCall>(method);
    for (const std::string& word : words) {
        ValueSyntaxError error;
        record->addArgument(parseValueWord(word, error), false);
    }
    return record;
}

// Which rule (1-based) answers, 0 for none.
std::size_t answering(ServeScript& script, const std::string& method, const std::vector<std::string>& words)
{
    const ServeRule* rule = script.match(*call(method, words));
    return rule ? static_cast<std::size_t>(rule - script.rules().data()) + 1 : 0;
}

TEST(ServeScript, TheFirstRuleThatTakesACallAnswersIt)
{
    ServeScript script;
    std::string error;
    ASSERT_TRUE(script.read(R"([
        {"method": "HttpDownload", "times": 1, "answer": {"method": "onHttpDownloadError", "args": ["Code de retour Http non égal à 200", 404]}},
        {"method": "HttpDownload", "args": ["*", "*", "C:\\slow.bin"], "delay_ms": 5000, "answer": {"method": "onHttpDownloadComplete"}},
        {"method": "HttpDownload", "answer": {"method": "onHttpDownloadComplete", "args": []}},
        {"method": "Pick", "args": ["game", "[1, 2.0]", "{\"b\": true, \"a\": null}"], "answer": null},
        {"method": "Pick", "args": ["game", "\"*\""], "then": "end"},
        {"time": 12, "pid": 3, "kind": "call", "connection": "__qel.external.connector__", "method": "Pasted", "args": ["game", "NaN"]},
        {"method": "Загрузка", "args": ["ответ.返事"], "answer": {"method": "onダウンロード"}}
    ])",
                            error))
        << error;
    ASSERT_EQ(script.rules().size(), 7u);
    const std::vector<std::string> download = {"game", "http://h/x", "C:\\slow.bin"};
    struct Row {
        const char* what;
        std::string method;
        std::vector<std::string> words;
        std::size_t rule;
    } rows[] = {
        {"times: the first call only", "HttpDownload", download, 1},
        {"then the next rule; \"*\" takes any value", "HttpDownload", download, 2},
        {"order: the earlier rule again", "HttpDownload", download, 2},
        {"a different value falls through", "HttpDownload", {"game", "http://h/x", "C:\\other.bin"}, 3},
        {"a shorter call than the rule's args", "HttpDownload", {"game", "http://h/x"}, 3},
        {"values compare as the wire carries them",
         "Pick",
         {"game", "[1, 2]", "{\"b\": true, \"a\": null}", "more"},
         4},
        {"another order is another value", "Pick", {"game", "[2, 1]"}, 0},
        {"\"*\" quoted is the text *", "Pick", {"game", "*"}, 5},
        {"the method is the whole name", "Pic", {"game"}, 0},
        {"a pasted trace line", "Pasted", {"game", "NaN"}, 6},
        {"names as their UTF-8 bytes", "Загрузка", {"ответ.返事"}, 7},
    };
    for (const Row& row : rows)
        EXPECT_EQ(answering(script, row.method, row.words), row.rule) << row.what;

    const std::vector<ServeRule>& rules = script.rules();
    ASSERT_TRUE(rules[0].answer);
    EXPECT_EQ(rules[0].answer->words, (std::vector<std::string>{"Code de retour Http non égal à 200", "404"}));
    EXPECT_FALSE(rules[3].answer);
    EXPECT_FALSE(rules[4].answer);
    EXPECT_TRUE(rules[4].end);
    EXPECT_EQ(rules[1].delayMs, 5000u);
    EXPECT_EQ(rules[6].answer->method, "onダウンロード");
}

// The launcher's defaults come after the script's rules, one for each method the table
// gives a default, answering it as the table says; a full script still gets them.
TEST(ServeScript, TheLauncherDefaultsFollowTheScriptAsTheMethodTableSays)
{
    std::string full = "[";
    for (std::size_t i = 0; i < ServeScript::kMaxRules; ++i)
        full += std::string(i ? "," : "") + R"({"method": "Script"})";
    full += "]";
    for (const std::string& json : {std::string(R"([{"method": "Script"}])"), full}) {
        ServeScript script;
        std::string error;
        ASSERT_TRUE(script.read(json, error)) << error;
        const std::size_t read = script.rules().size();
        script.addLauncherDefaults();
        std::size_t defaults = 0;
        for (const MethodRow& row : kMethodRows) {
            const std::string method(row.name);
            const std::size_t rule = answering(script, method, {"game", "800", "600", "32"});
            if (!row.serveDefault) {
                EXPECT_EQ(rule, 0u) << method;
                continue;
            }
            ++defaults;
            ASSERT_GT(rule, read) << method << " after " << read << " rules";
            const auto& answer = script.rules()[rule - 1].answer;
            EXPECT_EQ(answer ? answer->method : "", row.serveDefault) << method;
            EXPECT_TRUE(!answer || answer->words.empty()) << method;
        }
        EXPECT_EQ(script.rules().size(), read + defaults);
        EXPECT_GT(defaults, 0u);
    }
}

TEST(ServeScript, AnswerValuesReachThePeerInTheOrderWritten)
{
    ServeAnswer answer{"onBrowseFileSelect", {"[\"a\",\"b\"]", "{\"k\":1,\"j\":2}"}};
    const auto record = ServeScript::answerRecord(answer);
    ASSERT_EQ(record->getArguments().size(), 2u);
    // Held for the writer, which puts containers out last to first.
    EXPECT_EQ(record->getArguments().front()->toDebugString(), "Array : {String : b, String : a}");
}

TEST(ServeScript, AScriptWithAFaultGetsOneLineNamingTheRuleAndTheField)
{
    const std::string deep =
        std::string(ServeScript::kMaxNesting + 1, '[') + std::string(ServeScript::kMaxNesting + 1, ']');
    const std::string delays =
        "takes a whole number of milliseconds from 0 to " + std::to_string(ServeScript::kMaxDelayMs);
    struct Row {
        std::string script;
        std::string error;
    } rows[] = {
        {"[{\"method\": \"A\"}", "bad JSON: parse error at line 1, column 17: syntax error while parsing array - "
                                 "unexpected end of input; expected ']'"},
        {R"({"method": "A"})", "the script is not a list of rules ([{\"method\": ...}, ...])"},
        {deep, "containers are nested deeper than " + std::to_string(ServeScript::kMaxNesting)},
        {std::string(ServeScript::kMaxScriptBytes + 1, ' '),
         "the script is larger than " + std::to_string(ServeScript::kMaxScriptBytes / 1024) + " KiB"},
        {R"([{"method": "A"}, 3])", "rule 2: not an object ({\"method\": ..., ...})"},
        {R"([{"args": []}])", "rule 1, \"method\": missing: the method the call must have"},
        {R"([{"method": ""}])", "rule 1, \"method\": takes a name as a string"},
        {R"([{"method": "A", "args": "x"}])", "rule 1, \"args\": takes a list of values, the reply name first"},
        {R"([{"method": "A", "args": ["r", "[1,"]}])",
         "rule 1, \"args\": value 2 ([1,): bad JSON: unexpected end of input; expected '[', '{', or a literal at "
         "character 4"},
        {R"([{"method": "A", "answer": "onX"}])",
         "rule 1, \"answer\": takes {\"method\": CALLBACK, \"args\": [...]}, or null for no answer"},
        {R"([{"method": "A", "answer": {"args": []}}])",
         "rule 1, \"answer.method\": missing: the callback to call on the reply name"},
        {R"([{"method": "A", "answer": {"method": "onX", "args": ["{\"a\""]}}])",
         "rule 1, \"answer.args\": value 1 ({\"a\"): bad JSON: unexpected end of input; expected ':' at character 5"},
        {R"([{"method": "A", "answer": {"method": "onX", "arg": []}}])",
         "rule 1, \"answer.arg\": unknown field (an answer has method and args)"},
        {R"([{"method": "A", "delay_ms": -1}])", "rule 1, \"delay_ms\": " + delays},
        {R"([{"method": "A", "delay_ms": 1.5}])", "rule 1, \"delay_ms\": " + delays},
        {R"([{"method": "A", "times": 0}])",
         "rule 1, \"times\": takes a whole number from 1 to " + std::to_string(ServeScript::kMaxTimes)},
        {R"([{"method": "A", "then": "stop"}])",
         "rule 1, \"then\": takes only \"end\" (the serve ends after the answer)"},
        {R"([{"method": "A", "delay": 5}])",
         "rule 1, \"delay\": unknown field (a rule has method, args, answer, delay_ms, times and then)"},
    };
    for (const Row& row : rows) {
        ServeScript script;
        std::string error;
        EXPECT_FALSE(script.read(row.script, error)) << row.script;
        EXPECT_EQ(error, row.error) << row.script;
        EXPECT_TRUE(script.rules().empty());
    }
    ServeScript many;
    std::string list = "[";
    for (std::size_t i = 0; i <= ServeScript::kMaxRules; ++i)
        list += std::string(i ? "," : "") + R"({"method": "A"})";
    std::string error;
    EXPECT_FALSE(many.read(list + "]", error));
    EXPECT_EQ(error, "more than " + std::to_string(ServeScript::kMaxRules) + " rules");
}

} // namespace
