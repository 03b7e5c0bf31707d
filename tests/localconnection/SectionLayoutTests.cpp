#include "localconnection/SectionLayout.h"

#include "../amf/AmfTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace lc;

// A zero-filled section image of a given size, on the heap so overruns are caught.
class Section {
public:
    explicit Section(std::size_t size = 65536) : bytes_(std::make_unique<std::uint8_t[]>(size)), size_(size)
    {
        std::memset(bytes_.get(), 0, size);
    }
    SectionView view() const { return {bytes_.get(), size_}; }
    std::uint8_t* at(std::size_t offset) const { return bytes_.get() + offset; }
    void putTable(const std::vector<std::string>& names) const
    {
        std::size_t offset = kTableOffset;
        for (const auto& name : names) {
            std::memcpy(at(offset), name.c_str(), name.size() + 1);
            offset += name.size() + 1;
        }
    }
    void putBody(const Bytes& body) const
    {
        std::memcpy(at(kBodyOffset), body.data(), body.size());
        const auto length = static_cast<std::uint32_t>(body.size());
        std::memcpy(at(kLengthOffset), &length, 4);
    }
    std::uint32_t word(std::size_t offset) const
    {
        std::uint32_t value;
        std::memcpy(&value, at(offset), 4);
        return value;
    }

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_;
};

Bytes header(const std::string& recipient, const std::string& method)
{
    Bytes body;
    for (const std::string& s : {recipient, std::string("localhost"), method}) {
        body.push_back(0x02);
        body.push_back(static_cast<std::uint8_t>(s.size() >> 8));
        body.push_back(static_cast<std::uint8_t>(s.size()));
        body.insert(body.end(), s.begin(), s.end());
    }
    return body;
}

TEST(ListenerTable, ScanFindsNamesAndTheEnd)
{
    Section section;
    EXPECT_EQ(findConnection(section.view(), "a").kind, TableScan::EndOfTable);
    EXPECT_EQ(findConnection(section.view(), "a").offset, kTableOffset);
    section.putTable({"first", "second", "__qel.external.connector__x"});
    EXPECT_EQ(findConnection(section.view(), "second").kind, TableScan::Found);
    const TableScanResult end = findConnection(section.view(), "__qel.external.connector__");
    EXPECT_EQ(end.kind, TableScan::EndOfTable) << "a prefix of an entry is no match";
    EXPECT_EQ(end.offset, kTableOffset + 6 + 7 + 28);
    EXPECT_EQ(findConnection(section.view(), "secon").kind, TableScan::EndOfTable);
    EXPECT_EQ(findConnection(section.view(), "secondd").kind, TableScan::EndOfTable);
    EXPECT_EQ(findConnection({nullptr, 0}, "a").kind, TableScan::NoView);
}

TEST(ListenerTable, AppendWritesTheNameAndItsZeroOnly)
{
    Section section;
    section.putTable({"one"});
    const TableScanResult end = findConnection(section.view(), "two");
    ASSERT_TRUE(appendConnection(section.view(), end.offset, "two"));
    EXPECT_EQ(findConnection(section.view(), "two").kind, TableScan::Found);
    EXPECT_EQ(std::memcmp(section.at(kTableOffset), "one\0two\0\0", 9), 0);
}

TEST(ListenerTable, FullTableHasNoRoom)
{
    Section section;
    std::memset(section.at(kTableOffset), 'x', kTableLimit - kTableOffset);
    for (std::size_t offset = kTableOffset + 99; offset < kTableLimit; offset += 100)
        *section.at(offset) = 0;
    EXPECT_EQ(findConnection(section.view(), "name").kind, TableScan::NoRoom);
}

TEST(ListenerTable, SmallSectionsAreNeverReadOrWrittenPastTheirEnd)
{
    Section tiny(4096);
    EXPECT_EQ(findConnection(tiny.view(), "name").kind, TableScan::NoRoom);
    EXPECT_FALSE(appendConnection(tiny.view(), kTableOffset, "name"));

    Section unterminated(kTableOffset + 8);
    std::memset(unterminated.at(kTableOffset), 'y', 8);
    EXPECT_EQ(findConnection(unterminated.view(), "name").kind, TableScan::NoRoom);

    Section almost(kTableOffset + 4);
    EXPECT_EQ(findConnection(almost.view(), "name").kind, TableScan::EndOfTable);
    EXPECT_FALSE(appendConnection(almost.view(), kTableOffset, "name")) << "name and zero need 5 bytes";
    EXPECT_TRUE(appendConnection(almost.view(), kTableOffset, "abc"));
}

TEST(MessageSlot, RecipientMustMatchTheWholeString)
{
    Section section;
    section.putBody(header("__qel.external.connector__", "M"));
    EXPECT_TRUE(messagePresent(section.view()));
    EXPECT_TRUE(messageIsFor(section.view(), "__qel.external.connector__"));
    EXPECT_FALSE(messageIsFor(section.view(), "__QEL.external.connector__"));
    EXPECT_FALSE(messageIsFor(section.view(), "__qel.external.connector"));

    // A name beyond ASCII is its UTF-8 bytes, on the wire as inside.
    Section utf8;
    utf8.putBody(header("r\xC3\xA9ponse", "M"));
    EXPECT_TRUE(messageIsFor(utf8.view(), "r\xC3\xA9ponse"));
    EXPECT_FALSE(messageIsFor(utf8.view(), "r\xE9ponse"));

    // A 256-byte name whose low length byte reads 0: never taken for the empty name or a short one.
    Section longName;
    longName.putBody(header(std::string(256, 'n'), "M"));
    EXPECT_FALSE(messageIsFor(longName.view(), ""));
    EXPECT_TRUE(messageIsFor(longName.view(), std::string(256, 'n')));
}

TEST(MessageSlot, RecipientIsTheLengthAndBytesWhateverTheMarker)
{
    // Nobody else takes such a message out of the slot: if the named receiver did not,
    // it would block every LocalConnection on the machine.
    Section section;
    Bytes body = header("__qel.external.connector__", "M");
    for (const std::uint8_t marker : {0x05, 0x00}) {
        body[0] = marker;
        section.putBody(body);
        EXPECT_TRUE(messagePresent(section.view())) << "the length says so";
        EXPECT_TRUE(messageIsFor(section.view(), "__qel.external.connector__"));
        EXPECT_FALSE(messageIsFor(section.view(), "__qel.external.connectoR__"));
        HeaderProblem problem;
        EXPECT_EQ(deserializeRemoteCall(section.view(), &problem), nullptr);
        EXPECT_TRUE(problem.found);
        EXPECT_EQ(problem.marker, marker);
    }
}

TEST(MessageSlot, ConsumptionZeroesTimestampLengthAndMark)
{
    Section section;
    section.putBody(header("me", "M"));
    std::memset(section.at(kTimestampOffset), 0x5A, 4);
    consumeMessage(section.view());
    EXPECT_EQ(section.word(kTimestampOffset), 0u);
    EXPECT_EQ(section.word(kLengthOffset), 0u);
    EXPECT_EQ(*section.at(kBodyOffset), 0);
    EXPECT_FALSE(messagePresent(section.view()));
}

TEST(WriteCall, WritesHeaderStringsArgumentsReversedAndLengthLast)
{
    Section section;
    CFlashLocalConnectionCall call("");
    call.addArgument(std::make_unique<CFlashAMFString>("a"), false);
    call.addArgument(std::make_unique<CFlashAMFString>("b"), false);
    call.addArgument(std::make_unique<CFlashAMFString>("c"), false);
    ASSERT_EQ(writeCall(section.view(), "reply", "onDone", &call, 0x01020304), WriteOutcome::Written);
    Bytes expected = header("reply", "onDone");
    for (const char* s : {"c", "b", "a"}) {
        const Bytes value = hex(std::string("02 00 01 ") + (s[0] == 'a' ? "61" : s[0] == 'b' ? "62" : "63"));
        expected.insert(expected.end(), value.begin(), value.end());
    }
    EXPECT_EQ(section.word(kLengthOffset), expected.size());
    EXPECT_EQ(section.word(kTimestampOffset), 0x01020304u);
    EXPECT_EQ(toHex(Bytes(section.at(kBodyOffset), section.at(kBodyOffset + expected.size()))), toHex(expected));
}

TEST(WriteCall, EmptyRecordGivesExactlyTheThreeStrings)
{
    Section section;
    CFlashLocalConnectionCall call("");
    ASSERT_EQ(writeCall(section.view(), "r", "m", &call, 1), WriteOutcome::Written);
    EXPECT_EQ(section.word(kLengthOffset), header("r", "m").size());
}

TEST(WriteCall, NamesGoOutAsTheBytesTheyHold)
{
    Section section;
    ASSERT_EQ(writeCall(section.view(), "r\xC3\xA9", "caf\xC3\xA9", nullptr, 1), WriteOutcome::Written);
    EXPECT_EQ(toHex(Bytes(section.at(kBodyOffset), section.at(kBodyOffset + 6))), "02 00 03 72 C3 A9");
    const std::size_t method = kBodyOffset + 6 + 12;
    EXPECT_EQ(toHex(Bytes(section.at(method), section.at(method + 8))), "02 00 05 63 61 66 C3 A9");
}

TEST(WriteCall, BusySlotOrOversizedCallLeavesTheSectionUnchanged)
{
    Section section;
    section.putBody(header("someone", "else"));
    const Bytes before(section.at(0), section.at(kTableOffset));
    EXPECT_EQ(writeCall(section.view(), "r", "m", nullptr, 1), WriteOutcome::SlotBusy);
    EXPECT_EQ(Bytes(section.at(0), section.at(kTableOffset)), before);

    Section empty;
    CFlashLocalConnectionCall big("");
    big.addArgument(std::make_unique<CFlashAMFString>(std::string(30000, 'x')), false);
    big.addArgument(std::make_unique<CFlashAMFString>(std::string(30000, 'y')), false);
    EXPECT_EQ(writeCall(empty.view(), "r", "m", &big, 1), WriteOutcome::TooLarge);
    EXPECT_EQ(Bytes(empty.at(0), empty.at(kTableOffset)), Bytes(kTableOffset, 0));
}

// A free slot still holds the bytes of earlier messages. A call too large leaves every
// one of them; a call that fits changes the slot up to its own end and no further.
TEST(WriteCall, StaleBytesOfAFreeSlotAreOnlyOverwrittenByWhatIsWritten)
{
    Section stale;
    std::memset(stale.at(kBodyOffset + 1), 0xEE, kTableOffset - kBodyOffset - 1);
    const Bytes before(stale.at(0), stale.at(kTableOffset));

    CFlashLocalConnectionCall big("");
    std::string accents;
    for (int i = 0; i < 10000; ++i)
        accents += "\xC3\xA9";
    big.addArgument(std::make_unique<CFlashAMFString>(accents + accents), false);
    big.addArgument(std::make_unique<CFlashAMFString>(std::string(20000, 'y')), false);
    EXPECT_EQ(writeCall(stale.view(), "r", "m", &big, 1), WriteOutcome::TooLarge);
    EXPECT_EQ(Bytes(stale.at(0), stale.at(kTableOffset)), before);

    // Small enough to be sure to fit, and large enough that it might not (a zero ends the
    // text, and what follows it counts until it is written): both are written whole, and
    // the stale bytes after them are left.
    for (const std::size_t size : {std::size_t{30}, std::size_t{30000}}) {
        Section section;
        std::memset(section.at(kBodyOffset + 1), 0xEE, kTableOffset - kBodyOffset - 1);
        CFlashLocalConnectionCall call("");
        std::string text = std::string(size, 'x') + "\xE9";
        text += '\0';
        text += std::string(20000, 'z');
        call.addArgument(std::make_unique<CFlashAMFString>(text), false);
        ASSERT_EQ(writeCall(section.view(), "r", "m", &call, 7), WriteOutcome::Written) << size;
        const std::uint32_t length = section.word(kLengthOffset);
        Bytes expected = header("r", "m");
        const Bytes value = encodeOne(call.getArguments().front().get());
        expected.insert(expected.end(), value.begin(), value.end());
        ASSERT_EQ(length, expected.size());
        EXPECT_EQ(Bytes(section.at(kBodyOffset), section.at(kBodyOffset + length)), expected);
        EXPECT_EQ(section.word(kTimestampOffset), 7u);
        EXPECT_EQ(Bytes(section.at(kBodyOffset + length), section.at(kBodyOffset + length + 8)), Bytes(8, 0xEE))
            << "nothing past the message's end";
    }
}

TEST(Deserialize, ArgumentsComeOutInCallOrder)
{
    Section section;
    Bytes body = header("__qel.external.connector__", "BrowseFile");
    const Bytes values = hex("02 00 02 73 31 02 00 02 73 32 02 00 02 73 33");
    body.insert(body.end(), values.begin(), values.end());
    section.putBody(body);
    const auto call = deserializeRemoteCall(section.view(), nullptr);
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->getMethodName(), "BrowseFile");
    std::vector<std::string> order;
    for (const auto& value : call->getArguments())
        order.push_back(value->toString());
    EXPECT_EQ(order, (std::vector<std::string>{"s3", "s2", "s1"}));

    // Written back, the arguments stand in the body as they came.
    Section again;
    ASSERT_EQ(writeCall(again.view(), "__qel.external.connector__", "BrowseFile", call.get(), 0),
              WriteOutcome::Written);
    EXPECT_EQ(Bytes(again.at(kBodyOffset), again.at(kBodyOffset + body.size())), body);
}

TEST(Deserialize, HeaderThatIsNotAStringIsReportedWithItsMarker)
{
    struct Row {
        const char* tail;
        int marker;
    };
    for (const Row& row : {Row{"05", 5}, Row{"0C 00 00 00 01 61", 12}}) {
        Section section;
        Bytes body = hex("02 00 02 6D 65 02 00 01 64");
        const Bytes tail = hex(row.tail);
        body.insert(body.end(), tail.begin(), tail.end());
        section.putBody(body);
        HeaderProblem problem;
        EXPECT_EQ(deserializeRemoteCall(section.view(), &problem), nullptr);
        EXPECT_TRUE(problem.found);
        EXPECT_EQ(problem.marker, row.marker);
    }
}

TEST(Deserialize, EmptySlotAndBrokenBodiesGiveNoRecordAndNoReport)
{
    Section section;
    HeaderProblem problem;
    EXPECT_EQ(deserializeRemoteCall(section.view(), &problem), nullptr);

    Bytes body = header("me", "M");
    const Bytes broken = hex("02 00 09 61"); // a string running past the body
    body.insert(body.end(), broken.begin(), broken.end());
    section.putBody(body);
    EXPECT_EQ(deserializeRemoteCall(section.view(), &problem), nullptr);

    const std::uint32_t huge = 50000; // longer than the body room
    std::memcpy(section.at(kLengthOffset), &huge, 4);
    EXPECT_EQ(deserializeRemoteCall(section.view(), &problem), nullptr);
    EXPECT_FALSE(problem.found);
}

TEST(Deserialize, UnsupportedMarkersAddNothing)
{
    Section section;
    Bytes body = header("me", "M");
    const Bytes values = hex("07 05 0D 01 01");
    body.insert(body.end(), values.begin(), values.end());
    section.putBody(body);
    const auto call = deserializeRemoteCall(section.view(), nullptr);
    ASSERT_NE(call, nullptr);
    ASSERT_EQ(call->getArguments().size(), 2u);
    EXPECT_EQ(call->getArguments().front()->getType(), kAmfBoolean);
}

TEST(CallRecord, OwnsItsArgumentsAndIgnoresNull)
{
    CFlashLocalConnectionCall call("m");
    call.addArgument(nullptr, false);
    EXPECT_TRUE(call.getArguments().empty());
    call.addArgument(std::make_unique<CFlashAMFNumber>(1), false);
    call.addArgument(std::make_unique<CFlashAMFNumber>(0), true);
    AmfValuePtr taken = call.takeFirstArgument();
    EXPECT_EQ(taken->toNumber(), 0);
    EXPECT_EQ(call.getArguments().size(), 1u);
    EXPECT_EQ(call.takeFirstArgument()->toNumber(), 1);
    EXPECT_EQ(call.takeFirstArgument(), nullptr);
}

} // namespace
