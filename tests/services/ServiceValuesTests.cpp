// The display mode fields and the modes kept to put back, the dialogs' text buffers,
// computed from the game's values; the method table, pinned.
#include "display/SavedDisplayModes.h"
#include "download/ContentLength.h"
#include "services/DialogBuffer.h"
#include "services/DisplayModeField.h"
#include "services/Methods.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

// The one place where the tests spell the methods and their answers out, byte for byte
// and in the order of comparison: the game calls and hears these names. Every other test
// takes them from the table.
TEST(MethodTable, IsTheGamesOwnByteForByte)
{
    std::vector<std::string> rows;
    for (const MethodRow& row : kMethodRows)
        rows.push_back(std::string(row.name) + " | " + std::string(row.answers) + " | " +
                       (row.serveDefault ? "\"" + std::string(row.serveDefault) + "\"" : "no default"));
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "BrowseFile | onBrowseFileSelect onBrowseFileCancel | no default",
                        "BrowseFileToSave | onBrowseFileToSaveSelect onBrowseFileToSaveCancel | no default",
                        "HttpDownload | onHttpDownloadComplete onHttpDownloadError | no default",
                        "ScreenResolutionEnable | onScreenResolutionSuccess onScreenResolutionError | "
                        "\"onScreenResolutionSuccess\"",
                        "ScreenResolutionDisable |  | \"\"",
                    }));
    EXPECT_EQ(std::string(kUnknownMethodAnswer), "onUnknownMethod");
}

TEST(DisplayModeField, KeepsTheLow32BitsOfTheTruncatedInteger)
{
    const struct {
        double number;
        std::uint32_t field;
    } rows[] = {
        {1024.0, 1024},
        {1024.9, 1024},
        {-0.9, 0},
        {-1.0, 0xFFFFFFFFu},
        {4294967296.0 + 5.0, 5},
        {-9223372036854775808.0, 0},          // the smallest 64-bit integer
        {9223372036854774784.0, 0xFFFFFC00u}, // the largest double below 2^63
    };
    for (const auto& row : rows) {
        std::uint32_t field = 7;
        EXPECT_TRUE(toDisplayModeField(row.number, field)) << row.number;
        EXPECT_EQ(field, row.field) << row.number;
    }
}

// These have no 64-bit integer: the switch is not made and the field stays as it was.
TEST(DisplayModeField, RefusesWhatHasNoIntegerAndChangesNothing)
{
    for (double number :
         {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
          9223372036854775808.0, -9223372036854777856.0, 1e300}) {
        std::uint32_t field = 7;
        EXPECT_FALSE(toDisplayModeField(number, field)) << number;
        EXPECT_EQ(field, 7u) << number;
    }
}

// Each device keeps the mode from before its first switch; a new device past the bound
// keeps nothing, and the ones kept stay as they were.
TEST(SavedDisplayModes, KeepTheFirstModeOfEachDeviceWithinTheirBound)
{
    SavedDisplayModes<std::string, int, 2> saved;
    EXPECT_TRUE(saved.keep("second", 1));
    EXPECT_TRUE(saved.keep("second", 2));
    EXPECT_TRUE(saved.keep("first", 3));
    EXPECT_FALSE(saved.keep("third", 4));
    std::vector<std::pair<std::string, int>> kept;
    for (const auto& entry : saved)
        kept.emplace_back(entry.device, entry.mode);
    EXPECT_EQ(kept, (std::vector<std::pair<std::string, int>>{{"second", 1}, {"first", 3}}));
    EXPECT_EQ(saved.find("third"), nullptr);
    saved.clear();
    EXPECT_TRUE(saved.empty());
    EXPECT_TRUE(saved.keep("third", 4));
}

TEST(DialogBuffer, CutsTheTextToTheBufferWithItsNul)
{
    const std::u16string longText(3000, u'd');
    const std::vector<char16_t> cut = dialogBuffer<char16_t>(longText, 2048);
    ASSERT_EQ(cut.size(), 2048u);
    EXPECT_EQ(std::u16string(cut.data()), longText.substr(0, 2047));

    const std::vector<char16_t> shortText = dialogBuffer<char16_t>(u"abc", 8);
    EXPECT_EQ(shortText, (std::vector<char16_t>{u'a', u'b', u'c', 0, 0, 0, 0, 0}));

    // A character beyond the first plane is two units: cut whole or not at all.
    const std::vector<char16_t> pair = dialogBuffer<char16_t>(u"ab\U0001F3AE", 4);
    EXPECT_EQ(pair, (std::vector<char16_t>{u'a', u'b', 0, 0}));
}

// What the open dialog left in its buffer: a cut list of names, or names too long for
// it, give no path, which would name no file, and no cancel, which the player never made.
// The paths are answered in UTF-8.
TEST(DialogBuffer, ChosenPathsAreWholeOrNone)
{
    const auto buffer = [](const std::u16string& units, std::size_t size) {
        std::vector<char16_t> result(size, 0);
        std::copy_n(units.begin(), std::min(units.size(), size), result.begin());
        return result;
    };
    const std::u16string list(u"C:\\many\0one.sav\0\u0434\u0432\u0430.sav\0\0", 25);
    using Paths = std::vector<std::string>;
    EXPECT_EQ(chosenPaths(buffer(list, 25), true, 8, DialogEnd::Chosen),
              (Paths{"C:\\many\\one.sav", "C:\\many\\\xD0\xB4\xD0\xB2\xD0\xB0.sav"}));
    EXPECT_EQ(chosenPaths(buffer(list, 24), true, 8, DialogEnd::Chosen), Paths{}) << "no end of the list";
    EXPECT_EQ(chosenPaths(buffer(list, 21), true, 8, DialogEnd::Chosen), Paths{}) << "the last name cut";
    EXPECT_EQ(chosenPaths(buffer(list, 1024), true, 8, DialogEnd::NamesTooLong), Paths{});
    EXPECT_EQ(chosenPaths(buffer(list, 1024), true, 8, DialogEnd::Cancelled), std::nullopt);
    EXPECT_EQ(chosenPaths(buffer(u"C:\\a.sav", 1024), true, 3, DialogEnd::Chosen), Paths{"C:\\a.sav"});
}

// The announced length is text read into 64 bits: bodies past 2 and 4 GiB keep their
// length, and one past 64 bits can never arrive whole.
TEST(ContentLength, ReadsTheDecimalTextInto64Bits)
{
    const struct {
        const char* text;
        std::optional<std::uint64_t> length;
    } rows[] = {
        {"0", 0},
        {"2147483648", 2147483648u},                                         // 2^31
        {"4294967297", 4294967297u},                                         // 2^32 + 1
        {" 5368709120\t", 5368709120u},                                      // 5 GiB, blanks around
        {"9223372036854775809", 9223372036854775809u},                       // 2^63 + 1
        {"18446744073709551616", std::numeric_limits<std::uint64_t>::max()}, // 2^64
        {"99999999999999999999999", std::numeric_limits<std::uint64_t>::max()},
        {"", std::nullopt},
        {"  ", std::nullopt},
        {"12abc", std::nullopt},
        {"-1", std::nullopt},
        {"+5", std::nullopt},
        {"1 2", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(parseContentLength(row.text), row.length) << row.text;
}

} // namespace
