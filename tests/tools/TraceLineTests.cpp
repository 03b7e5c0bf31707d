// tovin-lc's reading of the launcher's trace lines: the names and values come from the
// AMF tail exactly, containers in the order the wire carries them.
#include "TraceLine.h"
#include "resources/FilledText.h"
#include "resources/Texts.h"

#include "amf/AmfWriter.h"
#include "amf/ValueSyntax.h"
#include "text/Utf16.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <initializer_list>

namespace {

// A line as the launcher's trace writes it: the text, " |amf ", the values in hex.
std::string traceLine(const std::string& text, std::initializer_list<const CFlashAMFObject*> values)
{
    std::vector<std::uint8_t> area(CFlashAMFWriter::kHeaderSize + 4096);
    CFlashAMFWriter writer(area.data(), 4096);
    for (const CFlashAMFObject* value : values)
        writer.writeValue(value);
    std::string line = text + " |amf ";
    static const char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < writer.size(); ++i) {
        line += kDigits[area[CFlashAMFWriter::kHeaderSize + i] >> 4];
        line += kDigits[area[CFlashAMFWriter::kHeaderSize + i] & 15];
    }
    return line;
}

std::vector<std::string> words(const TraceEvent& event)
{
    std::vector<std::string> shown;
    for (const auto& argument : event.arguments)
        shown.push_back(valueWord(argument.get()));
    return shown;
}

AmfValuePtr value(const std::string& word, ValueOrder order)
{
    ValueSyntaxError error;
    return parseValueWord(word, error, order);
}

TEST(TraceLine, CallsAnswersAndBoxesComeBackExactly)
{
    // A call the launcher received holds its containers in the wire's order.
    const CFlashAMFString method("Foo");
    const CFlashAMFString reply("tovin.game.reply");
    const AmfValuePtr received = value(R"([1, {"a": NaN, "b": "x: y"}])", ValueOrder::AsTyped);
    const TraceEvent call = readTraceLine(traceLine("tovin: call Foo(...)", {&method, &reply, received.get()}));
    EXPECT_EQ(call.kind, TraceEvent::Kind::Call);
    ASSERT_TRUE(call.exact);
    EXPECT_EQ(call.text, "tovin: call Foo(...)");
    EXPECT_EQ(call.connection, "__qel.external.connector__");
    EXPECT_EQ(call.method, "Foo");
    EXPECT_EQ(words(call), (std::vector<std::string>{"tovin.game.reply", R"([1,{"a":NaN,"b":"x: y"}])"}));

    // An answer it sends holds them as the writer wants them: the tail is the wire's bytes.
    const CFlashAMFString name("_tovin_lc");
    const CFlashAMFString callback("onBrowseFileSelect");
    const AmfValuePtr sent = value(R"(["C:\\a.png", "C:\\b.png"])", ValueOrder::ForTheWire);
    const TraceEvent answer =
        readTraceLine(traceLine("tovin: answer not sent to _tovin_lc: x", {&name, &callback, sent.get()}));
    EXPECT_EQ(answer.kind, TraceEvent::Kind::Answer);
    ASSERT_TRUE(answer.exact);
    EXPECT_FALSE(answer.sent);
    EXPECT_EQ(answer.connection, "_tovin_lc");
    EXPECT_EQ(answer.method, "onBrowseFileSelect");
    EXPECT_EQ(words(answer), (std::vector<std::string>{R"(["C:\\a.png","C:\\b.png"])"}));

    const CFlashAMFString caption("Alert: x");
    const CFlashAMFString text(filledText(texts::kCountIncorrect, 1));
    const TraceEvent box = readTraceLine(traceLine("tovin: box Alert: x: Nombre", {&caption, &text}));
    EXPECT_EQ(box.kind, TraceEvent::Kind::Box);
    ASSERT_TRUE(box.exact);
    EXPECT_EQ(box.method, "Alert: x");
    EXPECT_EQ(box.boxText, text.value);
}

TEST(TraceLine, WithoutAWholeTailOnlyTheKindAndTextAreKnown)
{
    const struct {
        const char* line;
        TraceEvent::Kind kind;
        const char* text;
    } rows[] = {
        {"tovin: call Foo(String : x)", TraceEvent::Kind::Call, "tovin: call Foo(String : x)"},
        {"tovin: answer to r: onX() |amf 0200", TraceEvent::Kind::Answer, "tovin: answer to r: onX()"}, // cut short
        {"tovin: box A: B |amf 02000", TraceEvent::Kind::Box, "tovin: box A: B"},                       // odd length
        {"tovin: box A: B |amf zz", TraceEvent::Kind::Box, "tovin: box A: B"},
        {"err:module:something else", TraceEvent::Kind::Line, "err:module:something else"},
        {"", TraceEvent::Kind::Line, ""},
    };
    for (const auto& row : rows) {
        const TraceEvent event = readTraceLine(row.line);
        EXPECT_EQ(event.kind, row.kind) << row.line;
        EXPECT_FALSE(event.exact) << row.line;
        EXPECT_EQ(event.text, row.text);
        EXPECT_TRUE(event.arguments.empty());
    }
}

// tovin-lc prints text through UTF-16 and JSON through nlohmann::json's replacing dump:
// bytes that are not UTF-8 must come out as the same U+FFFDs either way.
TEST(TraceLine, IllFormedBytesPrintAlikeInTextAndInJson)
{
    for (const std::string bytes :
         {"a\x80z", "\xE2\x82\x41", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF0\x9F\x8E"}) {
        const std::string text = text::toUtf8(std::u16string_view(text::toUtf16<char16_t>(bytes)));
        EXPECT_EQ(nlohmann::json(bytes).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                  "\"" + text + "\"");
    }
}

} // namespace
