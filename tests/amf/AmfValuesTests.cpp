#include "amf/AmfValues.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <regex>

namespace {

template <typename T, typename... A>
AmfValuePtr make(A&&... args)
{
    return std::make_unique<T>(std::forward<A>(args)...);
}

TEST(AmfScalars, AnswerTheirQueriesWithoutConversionBetweenKinds)
{
    struct Row {
        AmfValuePtr value;
        int type;
        const char* text;
        bool boolean;
        double number;
    };
    Row rows[] = {
        {make<CFlashAMFNumber>(1.5), 0, "1.500000", false, 1.5},
        {make<CFlashAMFNumber>(-2.0), 0, "-2.000000", false, -2.0},
        {make<CFlashAMFNumber>(0.5), 0, "0.500000", false, 0.5},
        {make<CFlashAMFBoolean>(true), 1, "true", true, 1.0},
        {make<CFlashAMFBoolean>(false), 1, "false", false, 0.0},
        {make<CFlashAMFString>("42"), 2, "42", false, 0.0},
        {make<CFlashAMFNull>(), 5, "null", false, 0.0},
        {make<CFlashAMFXml>("<a/>"), 15, "<a/>", false, 0.0},
        {make<CFlashAMFArray>(), 10, "Array", false, 0.0},
        {make<CFlashAMFAssociativeArray>(), 8, "Array", false, 0.0},
        {make<CFlashAMFClass>("Foo"), 8, "Array", false, 0.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(row.value->getType(), row.type);
        EXPECT_EQ(row.value->toString(), row.text);
        EXPECT_EQ(row.value->toBoolean(), row.boolean);
        EXPECT_EQ(row.value->toNumber(), row.number);
    }
}

TEST(AmfScalars, BooleanByteOtherThanOneIsTrue)
{
    CFlashAMFBoolean value(false);
    value.value = 2;
    EXPECT_TRUE(value.toBoolean());
    EXPECT_EQ(value.toNumber(), 1.0);
    EXPECT_EQ(value.toString(), "true");
}

TEST(AmfScalars, NumbersThatAreNotFiniteHaveTheSameTextEverywhere)
{
    EXPECT_EQ(CFlashAMFNumber(std::numeric_limits<double>::quiet_NaN()).toString(), "nan");
    EXPECT_EQ(CFlashAMFNumber(std::numeric_limits<double>::infinity()).toString(), "inf");
    EXPECT_EQ(CFlashAMFNumber(-std::numeric_limits<double>::infinity()).toDebugString(), "Number : -inf");
    EXPECT_EQ(CFlashAMFNumber(1e20).toString(), "100000000000000000000.000000");
}

TEST(AmfDates, RenderLocalTimeOrInvalidDate)
{
    const std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d .*)");
    const CFlashAMFDate date(1700000000000.0, 0);
    EXPECT_TRUE(std::regex_match(date.toString(), shape)) << date.toString();
    EXPECT_EQ(date.toDebugString(), "Date : " + date.toString());
    std::time_t t = 1700000000;
    char expected[32];
    std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S", std::localtime(&t));
    EXPECT_EQ(date.toString().substr(0, 19), expected);

    EXPECT_EQ(CFlashAMFDate(-1000.0, 0).toString(), "Invalid Date");
    EXPECT_EQ(CFlashAMFDate(1e300, 0).toString(), "Invalid Date");
    EXPECT_EQ(CFlashAMFDate(std::nan(""), 0).toDebugString(), "Date : Invalid Date");
}

// The reader makes containers with room for what they hold; one given more moves it out,
// and every kind a slot holds in place moves with it.
TEST(AmfContainers, GrowPastTheRoomTheyWereMadeWith)
{
    auto array = makeWithRoom<CFlashAMFArray>(2);
    auto typed = makeWithRoom<CFlashAMFClass>(1, "Foo");
    const std::string text(40, 't'); // past a string's small buffer
    for (int i = 0; i < 3; ++i) {
        array->push(AmfSlot(std::in_place_type<CFlashAMFNumber>, i));
        array->push(AmfSlot(std::in_place_type<CFlashAMFString>, text));
        array->push(AmfSlot(std::in_place_type<CFlashAMFBoolean>, true));
        array->push(AmfSlot(std::in_place_type<CFlashAMFDate>, -1000.0, 3));
        array->push(AmfSlot(std::in_place_type<CFlashAMFNull>));
        typed->addMember(std::to_string(i), make<CFlashAMFString>("s"));
    }
    const std::string five = "Number : 0.000000, String : " + text + ", Boolean : true, Date : Invalid Date, null";
    EXPECT_EQ(array->toDebugString().substr(0, 9 + five.size()), "Array : {" + five);
    EXPECT_EQ(array->count(), 15);
    EXPECT_EQ(static_cast<const CFlashAMFDate*>(array->item(13))->timezone, 3);
    EXPECT_EQ(typed->toDebugString(), "Class Array : {0 => String : s, 1 => String : s, 2 => String : s}");
    EXPECT_EQ(typed->className, "Foo");
}

TEST(AmfContainers, EmptyContainers)
{
    CFlashAMFAssociativeArray object;
    CFlashAMFClass typed("Foo");
    CFlashAMFArray array;
    EXPECT_EQ(object.count(), 0);
    EXPECT_EQ(object.findMember("a"), nullptr);
    EXPECT_EQ(typed.findMember(""), nullptr);
    EXPECT_EQ(array.count(), 0);
    EXPECT_EQ(array.toDebugString(), "Array : {}");
    EXPECT_EQ(object.toDebugString(), "Array : {}");
}

TEST(AmfContainers, FindMemberMatchesWholeKeysCaseSensitivelyAndFirstWins)
{
    CFlashAMFAssociativeArray object;
    object.addMember("abcd", make<CFlashAMFNumber>(1));
    object.addMember("ab", make<CFlashAMFNumber>(2));
    object.addMember("Abc", make<CFlashAMFNumber>(3));
    object.addMember("dup", make<CFlashAMFNumber>(4));
    object.addMember("dup", make<CFlashAMFNumber>(5));
    object.addMember("gone", nullptr);
    object.addMember("gone", make<CFlashAMFNumber>(6));
    EXPECT_EQ(object.findMember("abc"), nullptr);
    EXPECT_EQ(object.findMember("dup")->toNumber(), 4);
    EXPECT_EQ(object.findMember("gone"), nullptr) << "an absent first match yields none";
    EXPECT_EQ(object.count(), 7);
}

TEST(AmfContainers, FindMemberByIndexUsesDecimalKeys)
{
    CFlashAMFAssociativeArray object;
    object.addMember("0", make<CFlashAMFString>("zero"));
    object.addMember("12", make<CFlashAMFString>("twelve"));
    object.addMember("-1", make<CFlashAMFString>("minus one"));
    EXPECT_EQ(object.findMemberByIndex(0)->toString(), "zero");
    EXPECT_EQ(object.findMemberByIndex(12)->toString(), "twelve");
    EXPECT_EQ(object.findMemberByIndex(-1)->toString(), "minus one");
    EXPECT_EQ(object.findMemberByIndex(1), nullptr);
}

TEST(AmfDump, RendersNestedValuesOnOneLine)
{
    auto inner = std::make_unique<CFlashAMFArray>();
    inner->push(make<CFlashAMFBoolean>(true));
    inner->push(make<CFlashAMFNull>());
    CFlashAMFAssociativeArray object;
    object.addMember("a", make<CFlashAMFNumber>(1.5));
    object.addMember("b", std::move(inner));
    EXPECT_EQ(object.toDebugString(), "Array : {a => Number : 1.500000, b => Array : {Boolean : true, null}}");

    CFlashAMFClass typed("Hidden");
    typed.addMember("x", make<CFlashAMFString>("y"));
    EXPECT_EQ(typed.toDebugString(), "Class Array : {x => String : y}");

    EXPECT_EQ(CFlashAMFString("").toDebugString(), "String : ");
    EXPECT_EQ(CFlashAMFXml("<a>{, =>}</a>").toDebugString(), "XML : <a>{, =>}</a>");
    EXPECT_EQ(CFlashAMFBoolean(false).toDebugString(), "Boolean : false");
}

TEST(AmfDump, AbsentSlotsRenderAsUndefined)
{
    CFlashAMFArray array;
    array.push(nullptr);
    array.push(make<CFlashAMFNumber>(0));
    EXPECT_EQ(array.toDebugString(), "Array : {undefined, Number : 0.000000}");
    CFlashAMFAssociativeArray object;
    object.addMember("k", nullptr);
    EXPECT_EQ(object.toDebugString(), "Array : {k => undefined}");
}

} // namespace
