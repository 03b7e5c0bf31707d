#include "launcher/BilingualText.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase {
    const char* entry;
    const char* french;
    const char* english;
};

class BilingualSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(BilingualSplit, PicksEachHalf)
{
    const SplitCase& c = GetParam();
    EXPECT_EQ(bilingualHalf(c.entry, 0), c.french);
    EXPECT_EQ(bilingualHalf(c.entry, 1), c.english);
}

INSTANTIATE_TEST_SUITE_P(Separators, BilingualSplit,
                         ::testing::Values(SplitCase{"Bonjour|Hello", "Bonjour", "Hello"},
                                           SplitCase{"no separator", "no separator", "no separator"},
                                           SplitCase{"un|two|three", "un", "two"}, SplitCase{"|leading", "", "leading"},
                                           SplitCase{"trailing|", "trailing", ""}, SplitCase{"", "", ""}));

TEST(BilingualCut, KeepsShortTextAndCutsLongText)
{
    EXPECT_EQ(cutToFit("short", 10), "short");
    EXPECT_EQ(cutToFit(std::string(2000, 'x'), 1023).size(), 1023u);
}

TEST(BilingualCut, NeverSplitsAUtf8Character)
{
    const std::string text = "ab\xC3\xA9\xE3\x82\xB2"; // "ab", e acute (2 bytes), ge (3 bytes)
    EXPECT_EQ(cutToFit(text, 3), "ab");
    EXPECT_EQ(cutToFit(text, 4), "ab\xC3\xA9");
    EXPECT_EQ(cutToFit(text, 6), "ab\xC3\xA9");
    EXPECT_EQ(cutToFit(text, 7), text);
    EXPECT_EQ(cutToFit("\x80\x80\x80", 2), "") << "no character start to go back to";
}

} // namespace
