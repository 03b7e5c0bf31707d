#include "AmfTestUtil.h"

#include <gtest/gtest.h>

namespace {

template <typename T, typename... A>
AmfValuePtr make(A&&... args)
{
    return std::make_unique<T>(std::forward<A>(args)...);
}

TEST(AmfEncode, ScalarsGiveTheirBytes)
{
    // Eight different bytes: any byte put in a wrong place shows.
    EXPECT_EQ(toHex(encodeOne(make<CFlashAMFNumber>(3.141592653589793).get())), "00 40 09 21 FB 54 44 2D 18");
    EXPECT_EQ(toHex(encodeOne(make<CFlashAMFNumber>(-1.2345678).get())), "00 BF F3 C0 CA 2A 5B 1D 5D");
    EXPECT_EQ(toHex(encodeOne(make<CFlashAMFBoolean>(true).get())), "01 01");
    EXPECT_EQ(toHex(encodeOne(make<CFlashAMFBoolean>(false).get())), "01 00");
    EXPECT_EQ(toHex(encodeOne(make<CFlashAMFString>("ab").get())), "02 00 02 61 62");
    EXPECT_EQ(toHex(encodeOne(make<CFlashAMFString>("").get())), "02 00 00");
    EXPECT_EQ(toHex(encodeOne(make<CFlashAMFNull>().get())), "05");
    EXPECT_EQ(toHex(encodeOne(make<CFlashAMFXml>("<a/>").get())), "0F 00 00 00 04 3C 61 2F 3E");
    EXPECT_EQ(toHex(encodeOne(nullptr)), "");
}

TEST(AmfEncode, ContainersGoOutInReverseOrder)
{
    CFlashAMFAssociativeArray object;
    object.addMember("a", make<CFlashAMFNull>());
    object.addMember("b", make<CFlashAMFNull>());
    EXPECT_EQ(toHex(encodeOne(&object)), "03 00 01 62 05 00 01 61 05 00 00 09");
    EXPECT_EQ(toHex(encodeOne(make<CFlashAMFAssociativeArray>().get())), "03 00 00 09");

    CFlashAMFArray array;
    array.push(make<CFlashAMFNull>());
    array.push(make<CFlashAMFBoolean>(true));
    EXPECT_EQ(toHex(encodeOne(&array)), "0A 00 00 00 02 01 01 05");
    EXPECT_EQ(toHex(encodeOne(make<CFlashAMFArray>().get())), "0A 00 00 00 00");

    CFlashAMFClass typed("Foo");
    EXPECT_EQ(toHex(encodeOne(&typed)), "03 00 00 09") << "typed objects go out anonymous";
}

TEST(AmfEncode, AbsentSlotsBecomeNull)
{
    CFlashAMFArray array;
    array.push(nullptr);
    EXPECT_EQ(toHex(encodeOne(&array)), "0A 00 00 00 01 05");
    CFlashAMFAssociativeArray object;
    object.addMember("k", nullptr);
    EXPECT_EQ(toHex(encodeOne(&object)), "03 00 01 6B 05 00 00 09");
}

TEST(AmfEncode, DateTimeZoneGoesOutInMinutesAndReadsBack)
{
    for (int hours : {0, 1, 12, -1, -12}) {
        const CFlashAMFDate date(1700000000123.456, hours);
        const Bytes bytes = encodeOne(&date);
        ASSERT_EQ(bytes.size(), 11u);
        EXPECT_EQ(toHex(Bytes(bytes.begin(), bytes.begin() + 9)), "0B 42 78 BC FE 56 87 B7 4C");
        const int field = (bytes[9] << 8) | bytes[10];
        EXPECT_EQ(static_cast<std::int16_t>(field), hours * 60);
        const AmfValuePtr back = decodeOne(bytes).value;
        EXPECT_EQ(static_cast<CFlashAMFDate*>(back.get())->timezone, hours);
    }
}

// Text is held as the wire's UTF-8 and goes out as the same bytes, whether it is UTF-8
// or not; a zero byte still ends it.
TEST(AmfEncode, TextGoesOutAsTheBytesItHolds)
{
    EXPECT_EQ(toHex(encodeOne(make<CFlashAMFString>("caf\xC3\xA9").get())), "02 00 05 63 61 66 C3 A9");
    EXPECT_EQ(toHex(encodeOne(make<CFlashAMFString>("\xE9\xFF\xC3").get())), "02 00 03 E9 FF C3") << "not UTF-8";
    EXPECT_EQ(toHex(encodeOne(make<CFlashAMFXml>(std::string("<\xE2\x82\xAC/>\0x", 8)).get())),
              "0F 00 00 00 06 3C E2 82 AC 2F 3E");
    CFlashAMFAssociativeArray object;
    object.addMember("cl\xC3\xA9", nullptr);
    EXPECT_EQ(toHex(encodeOne(&object)), "03 00 04 63 6C C3 A9 05 00 00 09");
}

TEST(AmfEncodePrimitives, StringValueAndFinish)
{
    std::uint8_t area[64] = {};
    CFlashAMFWriter writer(area, sizeof area - 16);
    EXPECT_EQ(writer.finish(), 0);
    EXPECT_EQ(toHex(Bytes(area + 12, area + 16)), "00 00 00 00");
    writer.writeStringValue("abc");
    EXPECT_EQ(writer.finish(), 6);
    EXPECT_EQ(toHex(Bytes(area + 12, area + 22)), "06 00 00 00 02 00 03 61 62 63");
    EXPECT_EQ(toHex(Bytes(area, area + 12)), "00 00 00 00 00 00 00 00 00 00 00 00") << "header left alone";

    std::uint8_t one[32] = {};
    CFlashAMFWriter nullWriter(one, 16);
    nullWriter.writeValue(std::make_unique<CFlashAMFNull>().get());
    EXPECT_EQ(nullWriter.finish(), 1);
    EXPECT_EQ(toHex(Bytes(one + 12, one + 16)), "01 00 00 00");
}

TEST(AmfEncodeRoom, AWriteThatDoesNotFitFailsAndPublishesNothing)
{
    std::vector<std::uint8_t> area(16 + 8 + 4, 0xEE);
    std::fill(area.begin() + 12, area.begin() + 16, 0);
    CFlashAMFWriter writer(area.data(), 8);
    writer.writeStringValue("abcdefgh"); // 11 bytes into a room of 8
    EXPECT_TRUE(writer.failed());
    EXPECT_EQ(writer.finish(), -1);
    EXPECT_EQ(toHex(Bytes(area.begin() + 12, area.begin() + 16)), "00 00 00 00") << "no length stored";
    EXPECT_EQ(toHex(Bytes(area.end() - 4, area.end())), "EE EE EE EE") << "nothing past the room";

    CFlashAMFWriter exact(area.data(), 8);
    exact.writeStringValue("abcde"); // exactly 8 bytes
    EXPECT_EQ(exact.finish(), 8);
}

TEST(AmfEncodeRoom, StringsBeyondTheSixteenBitLengthFail)
{
    std::vector<std::uint8_t> area(16 + 70000);
    CFlashAMFWriter writer(area.data(), 70000);
    writer.writeStringValue(std::string(65536, 'x'));
    EXPECT_TRUE(writer.failed());
    CFlashAMFWriter fits(area.data(), 70000);
    fits.writeStringValue(std::string(65535, 'x'));
    EXPECT_EQ(fits.finish(), 65538);
}

// Short texts take a word-at-a-time copy and longer ones a scan: a high byte or a zero at
// any place of any length must still come out as the text up to its first zero.
TEST(AmfEncode, TextsOfEveryShortLengthGoOutUpToTheirFirstZero)
{
    for (std::size_t length = 0; length <= 24; ++length) {
        for (std::size_t at = 0; at <= length; ++at) {
            for (char odd : {'\xE9', '\0'}) {
                std::string text(length, 'k');
                if (at < length)
                    text[at] = odd;
                const std::string sent = text.substr(0, text.find('\0'));
                const Bytes prefix = {0x02, 0x00, static_cast<std::uint8_t>(sent.size())};
                const std::string expected =
                    toHex(prefix) + (sent.empty() ? "" : " ") + toHex(Bytes(sent.begin(), sent.end()));
                EXPECT_EQ(toHex(encodeOne(make<CFlashAMFString>(text).get())), expected)
                    << length << " " << at << " " << int(odd);
            }
        }
    }
}

} // namespace
