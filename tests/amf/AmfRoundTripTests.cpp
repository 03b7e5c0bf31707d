// Random value trees, written then read, come back as the writer documents:
// members and elements reversed, typed objects anonymous, absent slots null.
#include "AmfTestUtil.h"

#include <gtest/gtest.h>

#include <random>

namespace {

class TreeMaker {
public:
    explicit TreeMaker(unsigned seed) : random_(seed) {}

    AmfValuePtr value(int depth)
    {
        const int kind = pick(depth > 3 ? 6 : 10);
        switch (kind) {
        case 0:
            return std::make_unique<CFlashAMFNumber>(std::uniform_real_distribution<double>(-1e9, 1e9)(random_));
        case 1:
            return std::make_unique<CFlashAMFBoolean>(pick(2) == 1);
        case 2:
            return std::make_unique<CFlashAMFString>(text());
        case 3:
            return std::make_unique<CFlashAMFNull>();
        case 4:
            return std::make_unique<CFlashAMFDate>(1000.0 * pick(2000000000), pick(25) - 12);
        case 5:
            return std::make_unique<CFlashAMFXml>("<x>" + text() + "</x>");
        case 6:
        case 7: {
            auto array = std::make_unique<CFlashAMFArray>();
            for (int i = pick(5); i > 0; --i)
                array->push(pick(8) == 0 ? nullptr : value(depth + 1));
            return array;
        }
        default: {
            auto object = kind == 8 ? std::make_unique<CFlashAMFAssociativeArray>()
                                    : std::make_unique<CFlashAMFClass>("Cls" + text());
            for (int i = pick(5); i > 0; --i)
                object->addMember(text(), pick(8) == 0 ? nullptr : value(depth + 1));
            return object;
        }
        }
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    std::string text()
    {
        // ASCII, the bytes of UTF-8 sequences and bytes that are never UTF-8, so that texts
        // both valid and not come back as they went; no zero byte (text ends there).
        static const std::string alphabet = "abcXYZ 09{},=>\xC3\xA9\xE2\x82\xAC\xF0\x9F\xFF\x80";
        std::string s;
        for (int i = pick(8); i > 0; --i)
            s += alphabet[static_cast<std::size_t>(pick(static_cast<int>(alphabet.size())))];
        return s;
    }

    std::mt19937 random_;
};

// The dump that reading back a written value must give.
std::string expectedAfterRoundTrip(const CFlashAMFObject* value)
{
    if (!value)
        return "null";
    if (value->getType() == kAmfArray) {
        const auto* array = static_cast<const CFlashAMFArray*>(value);
        std::string text = "Array : {";
        for (std::int32_t i = array->count() - 1; i >= 0; --i)
            text += expectedAfterRoundTrip(array->item(i)) + (i ? ", " : "");
        return text + "}";
    }
    if (value->getType() == kAmfAssociativeArray) {
        const auto* object = static_cast<const CFlashAMFAssociativeArray*>(value);
        std::string text = "Array : {";
        for (std::int32_t i = object->count() - 1; i >= 0; --i)
            text += object->keyAt(i) + " => " + expectedAfterRoundTrip(object->valueAt(i)) + (i ? ", " : "");
        return text + "}";
    }
    return value->toDebugString();
}

TEST(AmfRoundTrip, RandomTreesComeBackAsDocumented)
{
    TreeMaker maker(20261209);
    for (int i = 0; i < 500; ++i) {
        const AmfValuePtr tree = maker.value(0);
        const Bytes bytes = encodeOne(tree.get());
        ASSERT_FALSE(bytes.empty());
        // What decides whether a call may be encoded straight into the slot.
        EXPECT_LE(bytes.size(), CFlashAMFWriter::sizeBound(tree.get(), 40960)) << toHex(bytes);
        const auto [back, reader] = decodeOne(bytes);
        ASSERT_NE(back, nullptr) << toHex(bytes);
        EXPECT_FALSE(reader.failed());
        EXPECT_TRUE(reader.atEnd());
        EXPECT_EQ(back->toDebugString(), expectedAfterRoundTrip(tree.get()));
    }
}

} // namespace
