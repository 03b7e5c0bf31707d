// One table of tricky texts, run on the host (its stand-in converter) and under Wine
// (the platform's converters with Windows-1252), so that the stand-in is checked
// against the real thing.
#include "AmfTestUtil.h"

#include "amf/TextEncoding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string bytes(std::initializer_list<int> list)
{
    std::string text;
    for (int byte : list)
        text += static_cast<char>(byte);
    return text;
}

struct Row {
    const char* name;
    std::string input;
    std::string expected;
};

// UTF-8 from the wire into the ANSI code page.
const std::vector<Row> kFromUtf8 = {
    {"ascii", "plain ASCII ~", "plain ASCII ~"},
    {"empty", "", ""},
    {"accent", "caf\xC3\xA9", "caf\xE9"},
    {"euro, three bytes", "\xE2\x82\xAC\xE2\x82\xAC", "\x80\x80"},
    {"U+0081, undefined in 1252", "\xC2\x81", "\x81"},
    {"U+008D, undefined in 1252", "\xC2\x8D", "\x8D"},
    {"U+008F, undefined in 1252", "\xC2\x8F", "\x8F"},
    {"U+0090, undefined in 1252", "\xC2\x90", "\x90"},
    {"U+009D, undefined in 1252", "\xC2\x9D", "\x9D"},
    {"outside the code page", "\xE4\xB8\xAD", "?"},
    {"U+FFFD itself",
     "a\xEF\xBF\xBD"
     "b",
     "a?b"},
    {"lone continuation byte",
     "a\x80"
     "b",
     "a?b"},
    {"two lone continuation bytes", "\xBF\xBF", "??"},
    {"overlong slash", "\xC0\xAF", "??"},
    {"overlong three-byte slash", "a\xE0\x80\xAF", "a??"},
    {"cut two-byte sequence at the end", "ab\xC3", "ab?"},
    {"cut three-byte sequence before ASCII",
     "\xE2\x82"
     "a",
     "?a"},
    {"encoded high surrogate", "\xED\xA0\x80", "??"},
    {"encoded low surrogate", "\xED\xB0\x80", "??"},
    {"beyond the BMP", "\xF0\x9F\x98\x80", "??"},
    {"beyond U+10FFFF", "\xF4\x90\x80\x80", "???"},
    {"lead byte past F4", "\xF5\x80\x80\x80", "????"},
    {"five-byte form", "\xF8\x88\x80\x80\x80", "?????"},
    {"overlong four-byte form", "\xF0\x80\x80\x80", "???"},
    {"overlong C1", "\xC1\xBF", "??"},
    {"cut sequence takes the rest of the text",
     "\xE2"
     "a",
     "?"},
    {"broken sequence ends before the byte that breaks it",
     "\xE2"
     "ab",
     "?ab"},
    {"last code point before the surrogates", "\xED\x9F\xBF", "?"},
    {"U+FFFF", "\xEF\xBF\xBF", "?"},
    {"zero ends the text", std::string("ab\0cd", 5), "ab"},
};

// ANSI text from inside the launcher onto the wire.
const std::vector<Row> kToUtf8 = {
    {"ascii", "plain ASCII ~", "plain ASCII ~"},
    {"empty", "", ""},
    {"accent", "caf\xE9", "caf\xC3\xA9"},
    {"three euros, none lost", "\x80\x80\x80", "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"},
    {"undefined bytes keep their code points", bytes({0x81, 0x8D, 0x8F, 0x90, 0x9D}),
     "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
    {"every defined 0x80-0x9F mapping", bytes({0x8A, 0x9C, 0x9F, 0x99}), "\xC5\xA0\xC5\x93\xC5\xB8\xE2\x84\xA2"},
    {"y with diaeresis", "\xFF", "\xC3\xBF"},
    {"zero ends the text", std::string("a\xE9\0\xE9", 4), "a\xC3\xA9"},
};

TEST(TextEncoding, Utf8ToAnsiTable)
{
    if (!ansiIs1252())
        GTEST_SKIP() << "the table is for Windows-1252 as the ANSI code page";
    for (const Row& row : kFromUtf8)
        EXPECT_EQ(utf8ToAnsi(row.input), row.expected) << row.name;
}

TEST(TextEncoding, AnsiToUtf8Table)
{
    if (!ansiIs1252())
        GTEST_SKIP() << "the table is for Windows-1252 as the ANSI code page";
    for (const Row& row : kToUtf8) {
        EXPECT_EQ(ansiToUtf8(row.input), row.expected) << row.name;
        // Straight into a buffer, with exactly the room it needs: the same bytes.
        std::string out(row.expected.size(), '\0');
        EXPECT_EQ(ansiToUtf8Into(row.input, out.data(), out.size()), row.expected.size()) << row.name;
        EXPECT_EQ(out, row.expected) << row.name;
    }
}

// Every room short of the need fails, the exact room succeeds, and nothing past the
// room is ever touched (multi-byte characters are where an overrun would hide).
TEST(TextEncoding, ConversionIntoABufferStaysInsideItsRoom)
{
    if (!ansiIs1252())
        GTEST_SKIP() << "the sizes are those of Windows-1252";
    for (const std::string& text : {std::string("\x80\xE9\x80"),
                                    std::string("a\x80"
                                                "b\xE9"
                                                "cd"),
                                    std::string("\xE9")}) {
        const std::string expected = ansiToUtf8(text);
        for (std::size_t room = 0; room <= expected.size(); ++room) {
            std::vector<char> buffer(room + 8, '#');
            const std::size_t written = ansiToUtf8Into(text, buffer.data(), room);
            if (room < expected.size()) {
                EXPECT_EQ(written, kTextDoesNotFit) << room;
            } else {
                ASSERT_EQ(written, expected.size());
                EXPECT_EQ(std::string(buffer.data(), written), expected);
            }
            EXPECT_EQ(std::string(buffer.data() + room, 8), "########") << "past a room of " << room;
        }
    }
    // A text cut by a zero: nothing written past its end, however much room there is.
    for (const std::string& text : {std::string("x\xE9\0yz", 5), std::string("abc\x80\0defgh", 10)}) {
        const std::string expected = ansiToUtf8(text);
        std::vector<char> buffer(32, '#');
        ASSERT_EQ(ansiToUtf8Into(text, buffer.data(), buffer.size()), expected.size());
        EXPECT_EQ(std::string(buffer.data(), expected.size()), expected);
        EXPECT_EQ(std::string(buffer.begin() + static_cast<std::ptrdiff_t>(expected.size()), buffer.end()),
                  std::string(32 - expected.size(), '#'));
    }
}

// Only text that reads the same in both encodings may skip the converter.
TEST(TextEncoding, PlainAsciiIsThatAndNothingElse)
{
    EXPECT_TRUE(isPlainAscii(""));
    EXPECT_TRUE(isPlainAscii("key_1 ~\x7F"));
    EXPECT_FALSE(isPlainAscii(std::string("a\0b", 3))) << "a zero ends the text: the converter must cut it";
    EXPECT_FALSE(isPlainAscii("caf\xE9"));
    EXPECT_FALSE(isPlainAscii(std::string(40, 'a') + "\x80")) << "a high byte at the end counts";
    // A high byte or a zero at every position of texts that span whole words and their tails.
    for (std::size_t length = 1; length <= 20; ++length) {
        EXPECT_TRUE(isPlainAscii(std::string(length, 'k')));
        for (std::size_t at = 0; at < length; ++at) {
            for (char odd : {'\xE9', '\0', '\x80'}) {
                std::string text(length, 'k');
                text[at] = odd;
                EXPECT_FALSE(isPlainAscii(text)) << length << " " << at << " " << int(odd);
            }
        }
    }
}

} // namespace
