#include "localconnection/MessageText.h"

#include "amf/AmfWriter.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct Section {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(65536, 0);
    lc::SectionView view() { return {bytes.data(), bytes.size()}; }
};

std::unique_ptr<CFlashLocalConnectionCall> callWith(std::vector<AmfValuePtr> values)
{
    auto call = std::make_unique<CFlashLocalConnectionCall>("");
    for (auto& value : values)
        call->addArgument(std::move(value), false);
    return call;
}

TEST(MessageText, DecodedMessageShowsRecipientDomainAndCallInDumpText)
{
    Section section;
    std::vector<AmfValuePtr> values;
    values.push_back(std::make_unique<CFlashAMFString>("_tovin_lc"));
    values.push_back(std::make_unique<CFlashAMFNumber>(2));
    auto array = std::make_unique<CFlashAMFArray>();
    array->push(std::make_unique<CFlashAMFBoolean>(true));
    values.push_back(std::move(array));
    ASSERT_EQ(lc::writeCall(section.view(), "game.r\xC3\xA9ply", "Foo", callWith(std::move(values)).get(), 7),
              lc::WriteOutcome::Written);
    const auto slot = lc::copySlot(section.view());
    EXPECT_EQ(lc::messageText(slot), "to game.r\xC3\xA9ply from localhost: Foo(String : _tovin_lc, Number : 2.000000, "
                                     "Array : {Boolean : true})");
    // The copy is what is read: the section may change once the lock is let go.
    lc::consumeMessage(section.view());
    EXPECT_EQ(lc::messageText(slot).rfind("to game.r\xC3\xA9ply from localhost: Foo(", 0), 0u);
    EXPECT_EQ(lc::messageText(lc::copySlot(section.view())), "free");
}

TEST(MessageText, UndecodableBodyShowsRecipientLengthAndFirstBytes)
{
    Section section;
    // A null where the domain belongs; the recipient, as the reader would take it, up to its zero.
    const std::uint8_t body[] = {0x02, 0x00, 0x03, 'x', 0x00, 'y', 0x05};
    std::memcpy(section.bytes.data() + lc::kBodyOffset, body, sizeof body);
    section.bytes[lc::kLengthOffset] = sizeof body;
    EXPECT_EQ(lc::messageText(lc::copySlot(section.view())), "to x: 7 bytes that do not decode: 02 00 03 78 00 79 05");

    // A length far past the body room is cut to the room, and only the first bytes show.
    section.bytes[lc::kBodyOffset] = 0x07;
    std::memset(section.bytes.data() + lc::kLengthOffset, 0xFF, 4);
    const auto slot = lc::copySlot(section.view());
    EXPECT_EQ(slot.size(), lc::kBodyOffset + lc::kBodyRoom);
    EXPECT_EQ(lc::messageText(slot),
              "to ?: 4294967295 bytes that do not decode: 07 00 03 78 00 79 05 00 00 00 00 00 00 00 00 00 00 00 00 00 "
              "00 00 00 00 ...");
}

TEST(MessageText, ListenerNamesStopAtTheEndOfTheTableOrTheView)
{
    Section section;
    EXPECT_TRUE(lc::listenerNames(section.view()).empty());
    const char table[] = "__qel.external.connector__\0tovin.game.reply\0";
    std::memcpy(section.bytes.data() + lc::kTableOffset, table, sizeof table);
    EXPECT_EQ(lc::listenerNames(section.view()),
              (std::vector<std::string>{"__qel.external.connector__", "tovin.game.reply"}));
    // A table filled to the view's end without a terminator: read up to the end, no further.
    std::memset(section.bytes.data() + lc::kTableOffset, 'n', section.bytes.size() - lc::kTableOffset);
    const auto names = lc::listenerNames({section.bytes.data(), section.bytes.size()});
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].size(), lc::kTableLimit - lc::kTableOffset);
    EXPECT_TRUE(lc::listenerNames({section.bytes.data(), lc::kTableOffset}).empty());
}

} // namespace
