#include "amf/ValueSyntax.h"

#include "AmfTestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

std::string dumpWord(const std::string& word)
{
    ValueSyntaxError error;
    AmfValuePtr value = parseValueWord(word, error);
    return value ? value->toDebugString() : "error: " + error.text();
}

std::string dumpList(const std::string& text)
{
    std::vector<AmfValuePtr> values;
    ValueSyntaxError error;
    if (!parseValueList(text, values, error))
        return "error: " + error.text();
    std::string shown;
    for (const auto& value : values)
        shown += (shown.empty() ? "" : " | ") + value->toDebugString();
    return shown;
}

struct Row {
    const char* in;
    const char* dump;
};

TEST(ValueSyntax, EveryJsonFormGivesItsAmfKind)
{
    const Row rows[] = {
        {"12", "Number : 12.000000"},
        {"-0.5", "Number : -0.500000"},
        {"1e3", "Number : 1000.000000"},
        {"2.5E-1", "Number : 0.250000"},
        {"true", "Boolean : true"},
        {"false", "Boolean : false"},
        {"null", "null"},
        {"\"text\"", "String : text"},
        {"\"\"", "String : "},
        {"[]", "Array : {}"},
        {"[1, \"a\", null]", "Array : {Number : 1.000000, String : a, null}"},
        {"{}", "Array : {}"},
        {"{\"0\":\"Images\",\"1\":\"*.png\"}", "Array : {0 => String : Images, 1 => String : *.png}"},
        {" { \"a\" : 1.5 , \"b\" : [ true , null ] } ",
         "Array : {a => Number : 1.500000, b => Array : {Boolean : true, null}}"},
        {"{\"$date\": 0, \"x\": 1}", "Array : {$date => Number : 0.000000, x => Number : 1.000000}"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(dumpWord(row.in), row.dump) << row.in;
}

TEST(ValueSyntax, NaNAndInfinitiesAreNumbersAsActionScriptSpellsThem)
{
    ValueSyntaxError error;
    for (const char* word : {"NaN", "Infinity", "-Infinity"}) {
        AmfValuePtr value = parseValueWord(word, error);
        ASSERT_TRUE(value);
        ASSERT_EQ(value->getType(), kAmfNumber) << word;
    }
    EXPECT_TRUE(std::isnan(parseValueWord("NaN", error)->toNumber()));
    EXPECT_EQ(parseValueWord("-Infinity", error)->toNumber(), -std::numeric_limits<double>::infinity());
    // Inside containers too, but never inside a string or as part of a longer word.
    EXPECT_EQ(dumpWord(R"([NaN, {"a": -Infinity}, "NaN"])"),
              "Array : {Number : nan, Array : {a => Number : -inf}, String : NaN}");
    EXPECT_EQ(dumpWord("[NaNa]"), "error: invalid literal; last read: '[N' at character 2");
}

TEST(ValueSyntax, DateObjectIsAnAmfDate)
{
    ValueSyntaxError error;
    AmfValuePtr value = parseValueWord("{\"$date\": 1700000000000}", error);
    ASSERT_TRUE(value);
    ASSERT_EQ(value->getType(), kAmfDate);
    EXPECT_EQ(static_cast<const CFlashAMFDate&>(*value).time, 1700000000000.0);
}

TEST(ValueSyntax, ForTheWireContainersReachThePeerInTheOrderTyped)
{
    ValueSyntaxError error;
    AmfValuePtr value = parseValueWord(R"([1, {"a": 2, "b": [3, 4]}])", error, ValueOrder::ForTheWire);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->toDebugString(),
              "Array : {Array : {b => Array : {Number : 4.000000, Number : 3.000000}, a => Number : 2.000000}, "
              "Number : 1.000000}");
    std::vector<AmfValuePtr> values;
    ASSERT_TRUE(parseValueList("[1, 2] x", values, error, ValueOrder::ForTheWire));
    EXPECT_EQ(values[0]->toDebugString(), "Array : {Number : 2.000000, Number : 1.000000}");
}

TEST(ValueSyntax, EscapesBecomeTheirCharactersInUtf8)
{
    const Row rows[] = {
        {R"("a\"b\\c\/d")", "String : a\"b\\c/d"},
        {R"("\t\n")", "String : \t\n"},
        {R"("caf\u00e9")", "String : caf\xC3\xA9"},
        {"\"caf\xC3\xA9\"", "String : caf\xC3\xA9"}, // raw UTF-8 as well
        {R"("\u4e2d")", "String : \xE4\xB8\xAD"},
        {R"("\ud83d\ude00")", "String : \xF0\x9F\x98\x80"}, // a surrogate pair is one character
        {R"({"cl\u00e9": 1})", "Array : {cl\xC3\xA9 => Number : 1.000000}"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(dumpWord(row.in), row.dump) << row.in;
}

TEST(ValueSyntax, BareWordsAreStringsAsTheyStand)
{
    const Row rows[] = {
        {"C:\\Games", "String : C:\\Games"},
        {"http://127.0.0.1:8000/a?b=1&c", "String : http://127.0.0.1:8000/a?b=1&c"},
        {"", "String : "},
        {"True", "String : True"},
        {"12abc", "String : 12abc"},
        {"01", "String : 01"},
        {"0x10", "String : 0x10"},
        {"-", "String : -"},
        {"1.", "String : 1."},
        {"nullable", "String : nullable"},
        {"nan", "String : nan"},
        {"inf", "String : inf"},
        {"r\xC3\xA9pertoire", "String : r\xC3\xA9pertoire"},
        {"a]b", "String : a]b"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(dumpWord(row.in), row.dump) << row.in;
}

TEST(ValueSyntax, NestingKeepsOrderAndStopsAtTheBound)
{
    EXPECT_EQ(dumpWord(R"([[1,[2,{"k":[[]]}]],{"a":{"b":{}}}])"),
              "Array : {Array : {Number : 1.000000, Array : {Number : 2.000000, Array : {k => Array : {Array : {}}}}}, "
              "Array : {a => Array : {b => Array : {}}}}");
    const std::string deepest = std::string(kMaxValueNesting, '[') + std::string(kMaxValueNesting, ']');
    EXPECT_EQ(dumpWord(deepest).rfind("Array", 0), 0u);
    const std::string tooDeep = "[" + deepest + "]";
    EXPECT_EQ(dumpWord(tooDeep), "error: containers are nested too deep at character 65");
    // Far deeper than the bound: refused without running out of stack.
    EXPECT_EQ(dumpWord(std::string(100000, '[')).substr(0, 40), "error: containers are nested too deep at");
}

TEST(ValueSyntax, BadJsonNamesWhatAndWhere)
{
    // The library's own words, after the place it names in lines and columns.
    const Row rows[] = {
        {"[1, 2", "error: unexpected end of input; expected ']' at character 6"},
        {"[1 2]", "error: unexpected number literal; expected ']' at character 4"},
        {"[1,]", "error: unexpected ']'; expected '[', '{', or a literal at character 4"},
        {"{\"a\" 1}", "error: unexpected number literal; expected ':' at character 6"},
        {"{\"a\": 1,}", "error: unexpected '}'; expected string literal at character 9"},
        {"\"open", "error: invalid string: missing closing quote; last read: '\"open' at character 6"},
        {"\"\\q\"", "error: invalid string: forbidden character after backslash; last read: '\"\\q' at character 3"},
        {"[abc]", "error: invalid literal; last read: '[a' at character 2"},
        {"{a: 1}", "error: invalid literal; last read: '{a'; expected string literal at character 2"},
        {"\"\\u12\"",
         "error: invalid string: '\\u' must be followed by 4 hex digits; last read: '\"\\u12\"' at character 6"},
        {"\"\\udc00\"", "error: invalid string: surrogate U+DC00..U+DFFF must follow U+D800..U+DBFF; last read: "
                        "'\"\\udc00' at character 7"},
        {"\"a\tb\"", "error: invalid string: control character U+0009 (HT) must be escaped to \\u0009 or \\t; last "
                     "read: '\"a<U+0009>' at character 3"},
        {"[1] x", "error: invalid literal; last read: '1] x'; expected end of input at character 5"},
        {"{\"$date\": \"today\"}", "error: \"$date\" takes milliseconds since 1970 at character 18"},
        {"[\"\xC3\xA9\xC3\xA9\", x]", "error: invalid literal; last read: '\"\xC3\xA9\xC3\xA9\", x' at character 8"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(dumpWord(row.in), row.dump) << row.in;
}

TEST(ValueSyntax, ListsSplitAtWhiteSpaceOutsideValues)
{
    EXPECT_EQ(dumpList("800 600 32"), "Number : 800.000000 | Number : 600.000000 | Number : 32.000000");
    EXPECT_EQ(dumpList("  \"C:\\\\\"  \"\" {\"0\": \"Saves\", \"1\": \"*.sav\"} null "),
              "String : C:\\ | String :  | Array : {0 => String : Saves, 1 => String : *.sav} | null");
    EXPECT_EQ(dumpList("http://x/a b"), "String : http://x/a | String : b");
    EXPECT_EQ(dumpList(""), "");
    EXPECT_EQ(dumpList("1 [2, 3"), "error: unexpected end of input; expected ']' at character 8");
    EXPECT_EQ(dumpList("\"a\"b"), "error: white space expected after a value at character 4");
}

// What valueWord prints, typed back as a call's argument, travels as the same bytes.
TEST(ValueSyntax, PrintedWordsTravelBackAsTheSameBytes)
{
    const Row rows[] = {
        {"12", "12"},
        {"-0", "-0.0"},
        {"-0.0", "-0.0"},
        {"0.1", "0.1"},
        {"1e300", "1e+300"},
        {"9007199254740993", "9007199254740992"},
        {"NaN", "NaN"},
        {"-Infinity", "-Infinity"},
        {"true", "true"},
        {"null", "null"},
        {"C:\\Games\\a b.png", "C:\\Games\\a b.png"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"\xF0\x9F\x98\x80\xE4\xB8\xAD", "\xF0\x9F\x98\x80\xE4\xB8\xAD"},
        {"\"12\"", "\"12\""},
        {"\"NaN\"", "\"NaN\""},
        {"\"\"", "\"\""},
        {"\" [x\"", "\" [x\""},
        {"\"tab\\there\"", "\"tab\\there\""},
        {"\" x \"", "\" x \""},
        {"{\"$date\": 1700000000000}", "{\"$date\":1700000000000}"},
        {"{\"$date\": NaN}", "{\"$date\":NaN}"},
        {"[1, [2, {\"b\": Infinity, \"a\": [\"x\", NaN]}], {\"$date\": -1.5}]",
         "[1,[2,{\"b\":Infinity,\"a\":[\"x\",NaN]}],{\"$date\":-1.5}]"},
        {"{\"k\": 1, \"k\": 2, \"$date\": 3}", "{\"k\":1,\"k\":2,\"$date\":3}"},
        {"{}", "{}"},
    };
    for (const Row& row : rows) {
        ValueSyntaxError error;
        const AmfValuePtr typed = parseValueWord(row.in, error, ValueOrder::ForTheWire);
        ASSERT_TRUE(typed) << row.in << ": " << error.text();
        const Bytes wire = encodeOne(typed.get());
        const Decoded received = decodeOne(wire);
        ASSERT_TRUE(received.value) << row.in;
        const std::string printed = valueWord(received.value.get());
        EXPECT_EQ(printed, row.dump) << row.in;
        const AmfValuePtr again = parseValueWord(printed, error, ValueOrder::ForTheWire);
        ASSERT_TRUE(again) << printed << ": " << error.text();
        EXPECT_EQ(toHex(encodeOne(again.get())), toHex(wire)) << row.in;
    }
}

// Bytes from the wire are not checked, but a printed word is always UTF-8: what is not
// comes out quoted, each malformed sequence as U+FFFD.
TEST(ValueSyntax, PrintedWordsAreUtf8EvenForTextThatIsNot)
{
    const Row rows[] = {
        {"caf\xE9", "\"caf\xEF\xBF\xBD\""},
        {"\xC3", "\"\xEF\xBF\xBD\""},                                                 // cut at its end
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                                 // overlong
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},                 // an encoded surrogate
        {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""}, // past U+10FFFF
    };
    for (const Row& row : rows) {
        const CFlashAMFString text(row.in);
        EXPECT_EQ(valueWord(&text), row.dump) << toHex(Bytes(text.value.begin(), text.value.end()));
    }
    CFlashAMFAssociativeArray object;
    object.addMember("k\xFF", std::make_unique<CFlashAMFString>("\xFF"));
    EXPECT_EQ(valueWord(&object), "{\"k\xEF\xBF\xBD\":\"\xEF\xBF\xBD\"}");
}

} // namespace
