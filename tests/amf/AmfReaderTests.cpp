#include "AmfTestUtil.h"

#include <gtest/gtest.h>

namespace {

struct DecodeCase {
    const char* name;
    const char* bytes;
    const char* dump;
    int type;
};

class AmfDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(AmfDecode, BytesGiveTheExpectedTreeAndAreConsumedWhole)
{
    const DecodeCase& c = GetParam();
    const Bytes bytes = hex(c.bytes);
    const auto [value, reader] = decodeOne(bytes);
    ASSERT_NE(value, nullptr);
    EXPECT_FALSE(reader.failed());
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(value->toDebugString(), c.dump);
    EXPECT_EQ(value->getType(), c.type);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, AmfDecode,
    ::testing::Values(
        DecodeCase{"EmptyString", "02 00 00", "String : ", 2},
        DecodeCase{"ZeroEndsText", "02 00 03 61 00 62", "String : a", 2},
        // UTF-8 or not, a text is held as the bytes received: a sequence cut at its end too.
        DecodeCase{"TextHeldAsReceived", "02 00 06 63 C3 A9 E9 FF C3", "String : c\xC3\xA9\xE9\xFF\xC3", 2},
        // Eight different bytes: any byte taken from a wrong place changes the value.
        DecodeCase{"Number", "00 40 09 21 FB 54 44 2D 18", "Number : 3.141593", 0},
        DecodeCase{"NegativeNumber", "00 BF F3 C0 CA 2A 5B 1D 5D", "Number : -1.234568", 0},
        DecodeCase{"BooleanOne", "01 01", "Boolean : true", 1},
        DecodeCase{"BooleanTwoIsFalse", "01 02", "Boolean : false", 1}, DecodeCase{"Null", "05", "null", 5},
        DecodeCase{"UndefinedIsNull", "06", "null", 5}, DecodeCase{"EmptyObject", "03 00 00 09", "Array : {}", 8},
        DecodeCase{"OneMember", "03 00 01 6B 00 3F F0 00 00 00 00 00 00 00 00 09", "Array : {k => Number : 1.000000}",
                   8},
        DecodeCase{"EcmaCountIgnored", "08 00 00 00 05 00 00 09", "Array : {}", 8},
        DecodeCase{"EndDropsItsKey", "03 00 01 78 09", "Array : {}", 8},
        DecodeCase{"NestedMembersStayInTheirContainer", "03 00 01 61 03 00 01 62 05 00 00 09 00 01 63 01 01 00 00 09",
                   "Array : {a => Array : {b => null}, c => Boolean : true}", 8},
        DecodeCase{"RepeatedKeysStay", "03 00 01 61 05 00 01 61 01 01 00 00 09",
                   "Array : {a => null, a => Boolean : true}", 8},
        DecodeCase{"StrictArray", "0A 00 00 00 02 05 01 01", "Array : {null, Boolean : true}", 10},
        DecodeCase{"NegativeCountIsEmpty", "0A FF FF FF FF", "Array : {}", 10},
        DecodeCase{"TypedObject", "10 00 03 46 6F 6F 00 00 09", "Class Array : {}", 8},
        DecodeCase{"Xml", "0F 00 00 00 04 3C 61 2F 3E", "XML : <a/>", 15},
        // After an unsupported marker the following bytes are read as the next key.
        DecodeCase{"UnsupportedMemberIsAbsent", "03 00 01 61 0C 00 01 62 05 00 00 09",
                   "Array : {a => undefined, b => null}", 8},
        DecodeCase{"UnsupportedElementIsAbsent", "0A 00 00 00 02 07 05", "Array : {undefined, null}", 10}),
    [](const auto& info) { return info.param.name; });

// A short text is looked at a word at a time when the payload goes on past it: a zero
// or a high byte anywhere in it, and whatever follows it, must still leave the text up to
// its first zero.
TEST(AmfDecode, TextsOfEveryShortLengthEndAtTheirFirstZero)
{
    const Bytes tails[] = {
        {}, {0x00, 0x00, 0x00}, {0x01, 0x00, 0x80}, {0x80, 0x01, 0x6B, 0x00, 0x01, 0x00, 0x00, 0x00}};
    for (std::size_t length = 0; length <= 12; ++length) {
        for (std::size_t at = 0; at <= length; ++at) {
            for (const char odd : {'\xE9', '\0', '\x01'}) {
                for (const Bytes& tail : tails) {
                    std::string text(length, 'k');
                    if (at < length)
                        text[at] = odd;
                    Bytes bytes(3 + length + tail.size());
                    bytes[0] = 0x02;
                    bytes[2] = static_cast<std::uint8_t>(length);
                    std::copy(text.begin(), text.end(), bytes.begin() + 3);
                    std::copy(tail.begin(), tail.end(), bytes.begin() + 3 + static_cast<std::ptrdiff_t>(length));
                    const auto [value, reader] = decodeOne(bytes);
                    ASSERT_NE(value, nullptr);
                    EXPECT_EQ(value->toString(), text.substr(0, text.find('\0')))
                        << length << " " << at << " " << int(odd) << " " << toHex(tail);
                    EXPECT_EQ(reader.remaining(), tail.size());
                }
            }
        }
    }
}

TEST(AmfDecodeArrays, CountOf128GivesThatManyElements)
{
    Bytes bytes = hex("0A 00 00 00 80");
    bytes.insert(bytes.end(), 128, 0x05);
    const AmfValuePtr value = decodeOne(bytes).value;
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(static_cast<CFlashAMFArray*>(value.get())->count(), 128);
}

// Numbers, booleans, nulls, dates and strings live in their container's slots: each must
// keep its value, as the same bytes read alone give it, while an object's members wait for
// its end and move as they grow.
TEST(AmfDecodeContainers, EveryKindKeepsItsValueInLargeContainers)
{
    const char* const kinds[] = {"00 3F F8 00 00 00 00 00 00",
                                 "01 01",
                                 "05",
                                 "02 00 01 73",
                                 "01 00",
                                 "06",
                                 "0B 42 78 BC FE 56 87 B7 4C FF C4",
                                 "02 00 16 6C 6F 6E 67 65 72 20 74 68 61 6E 20 69 74 73 20 62 75 66 66 65 72",
                                 "03 00 01 6B 05 00 00 09"};
    constexpr int kKinds = sizeof kinds / sizeof kinds[0];
    Bytes object = hex("03");
    Bytes array = hex("0A 00 00 00 3C");
    std::string objectDump = "Array : {";
    std::string arrayDump = "Array : {";
    for (int i = 0; i < 60; ++i) {
        const Bytes key = {0x00, 0x02, static_cast<std::uint8_t>('a' + i / 26),
                           static_cast<std::uint8_t>('a' + i % 26)};
        const Bytes value = hex(kinds[i % kKinds]);
        object.insert(object.end(), key.begin(), key.end());
        object.insert(object.end(), value.begin(), value.end());
        array.insert(array.end(), value.begin(), value.end());
        const std::string alone = decodeOne(value).value->toDebugString();
        objectDump += (i ? ", " : "") + std::string(key.begin() + 2, key.end()) + " => " + alone;
        arrayDump += (i ? ", " : "") + alone;
    }
    const Bytes end = hex("00 00 09");
    object.insert(object.end(), end.begin(), end.end());
    const AmfValuePtr fromObject = decodeOne(object).value;
    EXPECT_EQ(fromObject->toDebugString(), objectDump + "}");
    EXPECT_EQ(decodeOne(array).value->toDebugString(), arrayDump + "}");
    // The date's time zone is not in its text: it shows in its bytes written again.
    const auto* date = static_cast<const CFlashAMFAssociativeArray*>(fromObject.get())->valueAt(6);
    EXPECT_EQ(toHex(encodeOne(date)), "0B 42 78 BC FE 56 87 B7 4C FF C4");
}

TEST(AmfDecodeMarkers, UnsupportedMarkersConsumeNothingAfterThem)
{
    for (int marker : {0x04, 0x07, 0x09, 0x0C, 0x0D, 0x0E, 0x11, 0xFF}) {
        const Bytes bytes = {static_cast<std::uint8_t>(marker), 0x42};
        const auto [value, reader] = decodeOne(bytes);
        EXPECT_EQ(value, nullptr) << marker;
        EXPECT_FALSE(reader.failed());
        EXPECT_EQ(reader.remaining(), 1u);
    }
}

TEST(AmfDecodeClass, KeepsItsClassName)
{
    const AmfValuePtr value = decodeOne(hex("10 00 03 46 6F 6F 00 01 78 05 00 00 09")).value;
    auto* typed = dynamic_cast<CFlashAMFClass*>(value.get());
    ASSERT_NE(typed, nullptr);
    EXPECT_EQ(typed->className, "Foo");
    EXPECT_EQ(typed->count(), 1);
}

TEST(AmfDecodeDates, TimeZoneFieldBecomesWholeHours)
{
    const std::pair<const char*, int> rows[] = {
        {"00 00", 0},     {"00 3C", 1},   {"00 5A", 1},  {"02 D0", 12},
        {"02 D1", -1080}, {"FD 30", -12}, {"FF C4", -1}, {"FF E2", 0},
    };
    for (const auto& [field, hours] : rows) {
        const AmfValuePtr value = decodeOne(hex(std::string("0B 42 78 BC FE 56 87 B7 4C ") + field)).value;
        ASSERT_NE(value, nullptr);
        auto* date = static_cast<CFlashAMFDate*>(value.get());
        EXPECT_EQ(date->timezone, hours) << field;
        EXPECT_EQ(date->time, 1700000000123.456);
    }
}

TEST(AmfDecodePrimitives, ReadBigEndianAndStopAtTheEnd)
{
    const Bytes bytes = hex("01 02 03 04 05 06 07");
    CFlashAMFReader reader(bytes.data(), bytes.size());
    EXPECT_EQ(reader.readByte(), 1);
    EXPECT_EQ(reader.readUInt16(), 0x0203);
    EXPECT_EQ(reader.readUInt32(), 0x04050607u);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_FALSE(reader.failed());
    EXPECT_EQ(reader.readByte(), 0);
    EXPECT_TRUE(reader.failed());
}

TEST(AmfDecodePrimitives, ReadDoubleTakesItsEightBytesInOrder)
{
    const Bytes bytes = hex("40 09 21 FB 54 44 2D 18 BF F3 C0 CA 2A 5B 1D 5D");
    CFlashAMFReader reader(bytes.data(), bytes.size());
    EXPECT_EQ(reader.readDouble(), 3.141592653589793);
    EXPECT_EQ(reader.readDouble(), -1.2345678);
    EXPECT_TRUE(reader.atEnd());
}

// Hostile payloads: each must fail the decoding cleanly (the sanitizers watch the reads).
struct BrokenCase {
    const char* name;
    const char* bytes;
};

class AmfDecodeBroken : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(AmfDecodeBroken, FailsWithoutReadingPastTheEnd)
{
    const Bytes bytes = hex(GetParam().bytes);
    // A copy on the heap of exactly this size, so that any overread is caught.
    auto exact = std::make_unique<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), exact.get());
    CFlashAMFReader reader(exact.get(), bytes.size());
    const int marker = reader.readByte();
    EXPECT_EQ(reader.readValue(marker), nullptr);
    EXPECT_TRUE(reader.failed());
    EXPECT_TRUE(reader.atEnd());
}

INSTANTIATE_TEST_SUITE_P(
    Truncated, AmfDecodeBroken,
    ::testing::Values(BrokenCase{"StringRunsPast", "02 00 05 61"}, BrokenCase{"StringLengthCut", "02 00"},
                      BrokenCase{"DoubleCut", "00 3F F0"}, BrokenCase{"BooleanCut", "01"},
                      BrokenCase{"HugeCount", "0A 7F FF FF FF 05 05 05 05 05 05 05 05 05 05 05 05 05 05 05"},
                      BrokenCase{"MemberWithoutMarker", "03 00 01 61"},
                      BrokenCase{"ObjectWithoutEnd", "03 00 01 61 05"},
                      BrokenCase{"LongStringRunsPast", "0F FF FF FF FF 3C"},
                      BrokenCase{"DateCut", "0B 42 78 BC FE 56 80 00 00 00"},
                      BrokenCase{"ClassNameRunsPast", "10 00 09 46"},
                      BrokenCase{"LeftoverAfterUnsupportedRunsOut", "03 00 01 61 0C 00 07 62"}),
    [](const auto& info) { return info.param.name; });

Bytes nestedArrays(int depth)
{
    Bytes bytes;
    for (int i = 0; i < depth; ++i) {
        const Bytes level = hex("0A 00 00 00 01");
        bytes.insert(bytes.end(), level.begin(), level.end());
    }
    bytes.push_back(0x05);
    return bytes;
}

TEST(AmfDecodeNesting, LevelsUpToTheLimitAreFineOneMoreFails)
{
    const Bytes fine = nestedArrays(CFlashAMFReader::kMaxDepth);
    const Decoded sixtyFour = decodeOne(fine);
    EXPECT_NE(sixtyFour.value, nullptr);
    EXPECT_FALSE(sixtyFour.reader.failed());
    const Bytes deep = nestedArrays(CFlashAMFReader::kMaxDepth + 1);
    const Decoded sixtyFive = decodeOne(deep);
    EXPECT_EQ(sixtyFive.value, nullptr);
    EXPECT_TRUE(sixtyFive.reader.failed());
}

TEST(AmfDecodeNesting, FortyKilobytesOfNestingFailWithoutExhaustingTheStack)
{
    const Bytes arrays = nestedArrays(40960 / 5);
    const Decoded fromArrays = decodeOne(arrays);
    EXPECT_EQ(fromArrays.value, nullptr);
    EXPECT_TRUE(fromArrays.reader.failed());
    Bytes objects;
    for (int i = 0; i < 8000; ++i) {
        const Bytes level = hex("03 00 01 6B");
        objects.insert(objects.end(), level.begin(), level.end());
    }
    const Decoded fromObjects = decodeOne(objects);
    EXPECT_EQ(fromObjects.value, nullptr);
    EXPECT_TRUE(fromObjects.reader.failed());
}

TEST(AmfDecodeTruncation, EveryCutOfAValidPayloadFailsCleanly)
{
    const Bytes whole = hex("03 00 01 61 0A 00 00 00 03 00 3F F0 00 00 00 00 00 00 02 00 02 68 69 "
                            "10 00 01 43 00 01 7A 0B 00 00 00 00 00 00 00 00 00 3C 00 00 09 "
                            "00 01 62 08 00 00 00 01 00 01 30 0F 00 00 00 02 3C 3E 00 00 09 00 00 09");
    ASSERT_NE(decodeOne(whole).value, nullptr);
    for (std::size_t cut = 1; cut < whole.size(); ++cut) {
        auto exact = std::make_unique<std::uint8_t[]>(cut);
        std::copy(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut), exact.get());
        CFlashAMFReader reader(exact.get(), cut);
        const int marker = reader.readByte();
        EXPECT_EQ(reader.readValue(marker), nullptr) << "cut at " << cut;
        EXPECT_TRUE(reader.failed()) << "cut at " << cut;
    }
}

} // namespace
