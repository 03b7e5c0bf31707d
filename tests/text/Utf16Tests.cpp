#include "text/Utf16.h"

#include <gtest/gtest.h>

namespace {

std::u16string utf16(std::string_view utf8)
{
    return text::toUtf16<char16_t>(utf8);
}
std::string utf8(std::u16string_view units)
{
    return text::toUtf8(units);
}

TEST(Utf16, ValidTextGoesBothWaysUnchanged)
{
    const struct {
        const char* utf8;
        std::u16string utf16;
    } rows[] = {
        {"", u""},
        {"dl\\a.bin", u"dl\\a.bin"},
        {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},                       // two bytes
        {"\xD0\x97\xE3\x83\x80", u"\u0417\u30C0"},                     // two and three
        {"\xEF\xBF\xBF\xF0\x90\x80\x80", u"\uFFFF\U00010000"},         // edges of the planes
        {"\xF0\x9F\x8E\xAE\xF4\x8F\xBF\xBF", u"\U0001F3AE\U0010FFFF"}, // surrogate pairs
    };
    for (const auto& row : rows) {
        EXPECT_EQ(utf16(row.utf8), row.utf16) << row.utf8;
        EXPECT_EQ(utf8(row.utf16), row.utf8) << row.utf8;
    }
}

// Each maximal ill-formed part is one U+FFFD, and the character after it survives.
TEST(Utf16, InvalidUtf8BecomesOneReplacementAPart)
{
    const struct {
        const char* utf8;
        std::u16string utf16;
    } rows[] = {
        {"a\x80z", u"a\uFFFDz"},                           // a lone trail byte
        {"a\xC3", u"a\uFFFD"},                             // cut before its end
        {"\xE2\x82z", u"\uFFFDz"},                         // a three-byte form cut short
        {"\xF0\x9F\x8E", u"\uFFFD"},                       // a four-byte form cut short
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                     // overlong
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},           // overlong, three bytes
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},           // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // past U+10FFFF
        {"\xFF\xFE", u"\uFFFD\uFFFD"},                     // never in UTF-8
        {"\xC3\xC3\xA9", u"\uFFFD\u00E9"},                 // a lead where a trail belongs
    };
    for (const auto& row : rows)
        EXPECT_EQ(utf16(row.utf8), row.utf16) << testing::PrintToString(std::string(row.utf8));
}

TEST(Utf16, LoneSurrogatesBecomeReplacements)
{
    EXPECT_EQ(utf8(u"a\xD800z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(utf8(u"\xDC00\xD800"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(utf8(std::u16string(1, u'\xD83C')), "\xEF\xBF\xBD"); // a pair cut at the end
}

} // namespace
