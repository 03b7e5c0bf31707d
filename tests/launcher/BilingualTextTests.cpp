#include "launcher/BilingualText.h"

#include <gtest/gtest.h>

namespace {

bool noLeadBytes(unsigned char)
{
    return false;
}

// 0x81..0x9F and 0xE0..0xFC start a double-byte character in code page 932.
bool shiftJisLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

struct SplitCase {
    const char* entry;
    const char* french;
    const char* english;
};

class BilingualSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(BilingualSplit, PicksEachHalf)
{
    const SplitCase& c = GetParam();
    EXPECT_EQ(bilingualHalf(c.entry, 0, noLeadBytes), c.french);
    EXPECT_EQ(bilingualHalf(c.entry, 1, noLeadBytes), c.english);
}

INSTANTIATE_TEST_SUITE_P(Separators, BilingualSplit,
                         ::testing::Values(SplitCase{"Bonjour|Hello", "Bonjour", "Hello"},
                                           SplitCase{"no separator", "no separator", "no separator"},
                                           SplitCase{"un|two|three", "un", "two"}, SplitCase{"|leading", "", "leading"},
                                           SplitCase{"trailing|", "trailing", ""}, SplitCase{"", "", ""}));

TEST(BilingualSplitMultibyte, SeparatorAsTrailByteIsNoSeparator)
{
    // 0x83 0x7C is one double-byte character whose second byte is '|'.
    const std::string entry = std::string("A\x83|B") + "|C";
    EXPECT_EQ(bilingualHalf(entry, 0, shiftJisLeadByte), "A\x83|B");
    EXPECT_EQ(bilingualHalf(entry, 1, shiftJisLeadByte), "C");
    EXPECT_EQ(bilingualHalf(entry, 1, noLeadBytes), "B");
}

TEST(BilingualCut, KeepsShortTextAndCutsLongText)
{
    EXPECT_EQ(cutToFit("short", 10, noLeadBytes), "short");
    EXPECT_EQ(cutToFit(std::string(2000, 'x'), 1023, noLeadBytes).size(), 1023u);
}

TEST(BilingualCut, NeverSplitsADoubleByteCharacter)
{
    const std::string text = "ab\x83\x40";
    EXPECT_EQ(cutToFit(text, 3, shiftJisLeadByte), "ab");
    EXPECT_EQ(cutToFit(text, 4, shiftJisLeadByte), text);
}

} // namespace
