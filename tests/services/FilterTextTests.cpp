#include "resources/Texts.h"
#include "services/FilterText.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

std::unique_ptr<CFlashAMFAssociativeArray> listOf(std::vector<AmfValuePtr> members)
{
    auto list = std::make_unique<CFlashAMFAssociativeArray>();
    for (std::size_t i = 0; i < members.size(); ++i)
        list->addMember(std::to_string(i), std::move(members[i]));
    return list;
}

AmfValuePtr str(const std::string& text)
{
    return std::make_unique<CFlashAMFString>(text);
}

std::unique_ptr<CFlashAMFAssociativeArray> stringsList(const std::vector<std::string>& texts)
{
    std::vector<AmfValuePtr> members;
    for (const auto& text : texts)
        members.push_back(str(text));
    return listOf(std::move(members));
}

std::vector<AmfValuePtr> values(std::initializer_list<const char*> texts)
{
    std::vector<AmfValuePtr> out;
    for (const char* text : texts)
        out.push_back(text ? str(text) : std::make_unique<CFlashAMFNumber>(3));
    return out;
}

TEST(FilterText, PairsOfStringMembersInIndexOrder)
{
    EXPECT_EQ(BuildFilterText(listOf(values({"Images", "*.png;*.jpg"})).get()), "Images\0*.png;*.jpg\0\0"s);
    EXPECT_EQ(BuildFilterText(listOf(values({"A", nullptr, "B", "*.b"})).get()), "B\0*.b\0\0"s)
        << "a number as pattern drops its pair";
    EXPECT_EQ(BuildFilterText(listOf(values({"A", "*.a", "Odd"})).get()), "A\0*.a\0\0"s) << "an odd member is ignored";
    EXPECT_EQ(BuildFilterText(listOf(values({nullptr, nullptr})).get()), "\0"s) << "no usable pair: empty text";
}

TEST(FilterText, AnythingButAnAssociativeArrayGivesAllFiles)
{
    const std::string allFiles = std::string(texts::kAllFilesName) + '\0' + texts::kAllFilesPattern + '\0' + '\0';
    EXPECT_EQ(BuildFilterText(nullptr), allFiles);
    EXPECT_EQ(BuildFilterText(str("*.txt").get()), allFiles);
    EXPECT_EQ(BuildFilterText(std::make_unique<CFlashAMFNumber>(4).get()), allFiles);
    auto array = std::make_unique<CFlashAMFArray>();
    array->push(str("Images"));
    array->push(str("*.png"));
    EXPECT_EQ(BuildFilterText(array.get()), allFiles);
    CFlashAMFClass typed("Filters");
    typed.addMember("0", str("T"));
    typed.addMember("1", str("*.t"));
    EXPECT_EQ(BuildFilterText(&typed), "T\0*.t\0\0"s) << "a typed object passes the test for 8";
}

TEST(FilterText, PairsThatDoNotFitTheBufferAreDroppedWithTheRest)
{
    const std::string description(1500, 'd');
    auto list = stringsList({description, "*.a", description, "*.b", "S", "*.s"});
    const std::string text = BuildFilterText(list.get());
    EXPECT_EQ(text, description + "\0*.a\0\0"s);
    EXPECT_LE(text.size(), kFilterTextSize);

    // Exactly full: pair bytes plus the final NUL make 2048.
    auto exact = stringsList({std::string(2042, 'x'), "*.*"});
    EXPECT_EQ(BuildFilterText(exact.get()).size(), 2048u);
    auto over = stringsList({std::string(2043, 'x'), "*.*"});
    EXPECT_EQ(BuildFilterText(over.get()), "\0"s);
}

} // namespace
