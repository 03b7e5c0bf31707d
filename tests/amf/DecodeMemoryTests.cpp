// What a decoded call costs in heap, counted by this program's own allocator: the
// worst bodies a hostile peer can write must cost memory in proportion to their bytes,
// both while they decode and once decoded.
#include "amf/AmfReader.h"
#include "localconnection/SectionLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

namespace {

// Each block carries its size in front, so that frees can be counted without sized delete.
constexpr std::size_t kBlockHeader = 16;
std::size_t g_live = 0;
std::size_t g_peak = 0;

void* countedAllocate(std::size_t size)
{
    auto* block = static_cast<unsigned char*>(std::malloc(size + kBlockHeader));
    if (!block)
        throw std::bad_alloc();
    std::memcpy(block, &size, sizeof size);
    g_live += size;
    g_peak = std::max(g_peak, g_live);
    return block + kBlockHeader;
}

void countedFree(void* pointer) noexcept
{
    if (!pointer)
        return;
    auto* block = static_cast<unsigned char*>(pointer) - kBlockHeader;
    std::size_t size;
    std::memcpy(&size, block, sizeof size);
    g_live -= size;
    std::free(block);
}

} // namespace

void* operator new(std::size_t size)
{
    return countedAllocate(size);
}
void* operator new[](std::size_t size)
{
    return countedAllocate(size);
}
void operator delete(void* pointer) noexcept
{
    countedFree(pointer);
}
void operator delete[](void* pointer) noexcept
{
    countedFree(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept
{
    countedFree(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept
{
    countedFree(pointer);
}

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kHeapPerBodyByte = CFlashAMFReader::kMaxHeapPerBodyByte;
constexpr std::size_t kConstant = 4096;

void putString(Bytes& body, const std::string& text)
{
    body.push_back(0x02);
    body.push_back(static_cast<std::uint8_t>(text.size() >> 8));
    body.push_back(static_cast<std::uint8_t>(text.size()));
    body.insert(body.end(), text.begin(), text.end());
}

// A full 40960-byte body for the launcher: its header, as many copies of `unit` as fit
// (after `prefix`), then the reply name (the first argument, so the last in the body).
Bytes fullBody(const Bytes& unit, const Bytes& prefix = {})
{
    Bytes body;
    putString(body, "__qel.external.connector__");
    putString(body, "localhost");
    putString(body, "Flood");
    Bytes reply;
    putString(reply, "tovin.game.reply");
    body.insert(body.end(), prefix.begin(), prefix.end());
    while (body.size() + unit.size() + reply.size() <= lc::kBodyRoom)
        body.insert(body.end(), unit.begin(), unit.end());
    body.insert(body.end(), reply.begin(), reply.end());
    return body;
}

struct Cost {
    std::size_t peak = 0;     // the most held at once while decoding
    std::size_t retained = 0; // what the decoded record holds
    bool decoded = false;
    std::size_t arguments = 0;
};

Cost decodeCost(const Bytes& body)
{
    std::vector<std::uint8_t> image(lc::kTableOffset + 16, 0);
    std::memcpy(image.data() + lc::kBodyOffset, body.data(), body.size());
    const auto length = static_cast<std::uint32_t>(body.size());
    std::memcpy(image.data() + lc::kLengthOffset, &length, sizeof length); // the section is little-endian
    const lc::SectionView view{image.data(), image.size()};

    Cost cost;
    const std::size_t before = g_live;
    g_peak = g_live;
    {
        auto call = lc::deserializeRemoteCall(view, nullptr);
        cost.retained = g_live - before;
        cost.decoded = call != nullptr;
        cost.arguments = call ? call->getArguments().size() : 0;
    }
    cost.peak = g_peak - before;
    EXPECT_EQ(g_live, before) << "the record gives back everything it held";
    return cost;
}

Bytes bytes(std::initializer_list<std::uint8_t> list)
{
    return Bytes(list);
}

struct Row {
    const char* name;
    Bytes body;
    bool decodes;
};

std::vector<Row> worstBodies()
{
    Bytes nestedAtLimit; // 63 strict arrays of one element around a null: the deepest allowed
    for (int i = 0; i < 63; ++i)
        nestedAtLimit.insert(nestedAtLimit.end(), {0x0A, 0x00, 0x00, 0x00, 0x01});
    nestedAtLimit.push_back(0x05);

    Bytes objectOfNulls{0x03};
    for (int i = 0; i < 100; ++i)
        objectOfNulls.insert(objectOfNulls.end(), {0x00, 0x00, 0x05});
    objectOfNulls.insert(objectOfNulls.end(), {0x00, 0x00, 0x09});

    Bytes claimingTheRest; // nested arrays to the depth limit, each counting every byte left
    for (int i = 0; i < CFlashAMFReader::kMaxDepth; ++i) {
        const auto count = static_cast<std::uint32_t>(lc::kBodyRoom - 100 - 5 * i);
        claimingTheRest.insert(claimingTheRest.end(),
                               {0x0A, static_cast<std::uint8_t>(count >> 24), static_cast<std::uint8_t>(count >> 16),
                                static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count)});
    }

    return {
        {"nulls", fullBody(bytes({0x05})), true},
        {"empty strict arrays with a negative count", fullBody(bytes({0x0A, 0xFF, 0xFF, 0xFF, 0xFF})), true},
        {"empty strict arrays with count -2^31", fullBody(bytes({0x0A, 0x80, 0x00, 0x00, 0x00})), true},
        {"a strict array with a count beyond the body", fullBody(bytes({0x05}), bytes({0x0A, 0x7F, 0xFF, 0xFF, 0xFF})),
         false},
        {"nested strict arrays each counting the bytes left", fullBody(bytes({0x05}), claimingTheRest), false},
        {"empty objects", fullBody(bytes({0x03, 0x00, 0x00, 0x09})), true},
        {"empty ECMA arrays with a huge count", fullBody(bytes({0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x09})),
         true},
        {"objects of null members", fullBody(objectOfNulls), true},
        {"an object of null members that never ends", fullBody(bytes({0x00, 0x00, 0x05}), bytes({0x03})), false},
        {"empty strings", fullBody(bytes({0x02, 0x00, 0x00})), true},
        {"nesting at the depth limit", fullBody(nestedAtLimit), true},
        {"unsupported markers", fullBody(bytes({0x0D})), true},
    };
}

TEST(DecodeMemory, WorstBodiesStayWithinTheHeapBoundPerBodyByte)
{
    for (const Row& row : worstBodies()) {
        SCOPED_TRACE(row.name);
        const Cost cost = decodeCost(row.body);
        const std::size_t bound = kHeapPerBodyByte * row.body.size() + kConstant;
        EXPECT_EQ(cost.decoded, row.decodes);
        EXPECT_LE(cost.peak, bound) << "while decoding";
        EXPECT_LE(cost.retained, bound) << "once decoded";
    }
}

TEST(DecodeMemory, NegativeCountsAreEmptyArraysThatKeepNoRoom)
{
    const Bytes body = fullBody(bytes({0x0A, 0xFF, 0xFF, 0xFF, 0xFF}));
    const Cost cost = decodeCost(body);
    ASSERT_TRUE(cost.decoded);
    EXPECT_GT(cost.arguments, 8000u);
    // An empty array holds no element room: its share is its object and its list entry.
    EXPECT_LE(cost.retained / cost.arguments, 128u);
}

} // namespace
