// Codec throughput: a 40 KiB message body of mixed values decoded into a value tree
// (and freed), and the tree encoded back, beside librtmp's AMF0 functions on the same
// bytes. librtmp cannot encode dates, so the encode comparison also runs on a body of
// the same shape without them; both codecs always start from identical bytes.
#include "amf/AmfReader.h"
#include "amf/AmfValues.h"
#include "amf/AmfWriter.h"

#include <librtmp/amf.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

// The benchmarks run on one thread; a plain counter keeps the count from costing
// more than the allocation it counts.
std::uint64_t allocations = 0;

} // namespace

// Counts our allocations, so the report can tell allocations per value from per byte.
void* operator new(std::size_t size)
{
    ++allocations;
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept
{
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

namespace {

constexpr std::size_t kBodySize = 40 * 1024;

// UTF-8 text with accents and symbols, as the Flash Player writes it.
const char* const kNames[] = {"\xC3\x89lodie",    "Ren\xC3\xA9 M\xC3\xBCller",
                              "Fran\xC3\xA7oise", "Jos\xC3\xA9 Pe\xC3\xB1\x61",
                              "Tovin player",     "\xC3\x85sa \xC3\x98stberg"};
const char* const kWords[] = {
    "caf\xC3\xA9", "na\xC3\xAFve", "r\xC3\xA9sum\xC3\xA9", "\xE2\x82\xAC 42", "d\xC3\xA9j\xC3\xA0 vu",
    "level",       "score"};

// Writes AMF0 bytes directly, so that the body holds every kind a Flash Player sends
// (our writer never emits ECMA arrays, a Flash Player does).
class BodyMaker {
public:
    explicit BodyMaker(bool withDates) : withDates_(withDates) {}

    std::vector<std::uint8_t> bytes;

    void number(double value)
    {
        bytes.push_back(0x00);
        rawDouble(value);
    }
    void rawDouble(double value)
    {
        std::uint64_t bits;
        std::memcpy(&bits, &value, 8);
        for (int shift = 56; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<std::uint8_t>(bits >> shift));
    }
    void string(const char* text)
    {
        bytes.push_back(0x02);
        key(text);
    }
    void record(int depth)
    {
        bytes.push_back(0x03);
        key("id");
        number(next() % 100000);
        key("name");
        string(kNames[next() % 6]);
        key("ratio");
        number((next() % 1000) / 7.0);
        key("active");
        bytes.insert(bytes.end(), {0x01, static_cast<std::uint8_t>(next() % 2)});
        if (withDates_) {
            key("seen");
            bytes.push_back(0x0B);
            rawDouble(1.7e12 + next() % 100000000);
            bytes.insert(bytes.end(), {0x00, 0x3C}); // one hour east, in minutes
        }
        key("tags");
        bytes.insert(bytes.end(), {0x0A, 0, 0, 0, 4});
        for (int i = 0; i < 4; ++i)
            string(kWords[next() % 7]);
        key("scores");
        bytes.insert(bytes.end(), {0x08, 0, 0, 0, 3});
        for (const char* index : {"0", "1", "2"}) {
            key(index);
            number(next() % 5000);
        }
        end();
        if (depth > 0) {
            key("child");
            record(depth - 1);
        }
        end();
    }

private:
    void key(const char* text)
    {
        const std::size_t length = std::strlen(text);
        bytes.push_back(static_cast<std::uint8_t>(length >> 8));
        bytes.push_back(static_cast<std::uint8_t>(length));
        bytes.insert(bytes.end(), text, text + length);
    }
    void end() { bytes.insert(bytes.end(), {0, 0, 0x09}); }
    std::uint32_t next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }

    bool withDates_;
    std::uint32_t state_ = 12345;
};

// Encodes values with our writer; the message area's 16-byte header is dropped.
std::vector<std::uint8_t> encode(const std::vector<AmfValuePtr>& values, std::vector<std::uint8_t>& area)
{
    CFlashAMFWriter writer(area.data(), area.size() - CFlashAMFWriter::kHeaderSize);
    for (const AmfValuePtr& value : values)
        writer.writeValue(value.get());
    const std::int32_t length = writer.finish();
    if (length < 0)
        return {};
    const auto* body = area.data() + CFlashAMFWriter::kHeaderSize;
    return {body, body + length};
}

std::vector<AmfValuePtr> decode(const std::vector<std::uint8_t>& body)
{
    std::vector<AmfValuePtr> values;
    CFlashAMFReader reader(body.data(), body.size());
    while (!reader.atEnd())
        values.push_back(reader.readValue(reader.readByte()));
    return reader.failed() ? std::vector<AmfValuePtr>{} : std::move(values);
}

struct Body {
    std::vector<std::uint8_t> bytes;
    std::size_t valueCount = 0;
};

Body makeBody(bool withDates)
{
    BodyMaker maker(withDates);
    Body body;
    // Records nested up to four deep, a number or a string between them, up to 40 KiB.
    for (int i = 0;; ++i) {
        const std::size_t before = maker.bytes.size();
        if (i % 3 == 2)
            maker.string(kWords[i % 7]);
        else if (i % 5 == 4)
            maker.number(i * 0.25);
        else
            maker.record(i % 4);
        if (maker.bytes.size() > kBodySize) {
            maker.bytes.resize(before);
            break;
        }
        ++body.valueCount;
    }
    body.bytes = std::move(maker.bytes);
    return body;
}

const Body& body(bool withDates)
{
    static const Body mixed = makeBody(true);
    static const Body noDates = makeBody(false);
    return withDates ? mixed : noDates;
}

// Values in the tree, containers and their members included.
std::size_t valuesIn(const CFlashAMFObject* value)
{
    std::size_t count = 1;
    if (const auto* array = dynamic_cast<const CFlashAMFArray*>(value)) {
        for (std::int32_t i = 0; i < array->count(); ++i)
            count += valuesIn(array->item(i));
    } else if (const auto* object = dynamic_cast<const CFlashAMFAssociativeArray*>(value)) {
        for (std::int32_t i = 0; i < object->count(); ++i)
            count += valuesIn(object->valueAt(i));
    }
    return count;
}

// Texts the encoder copies: strings, XML and member keys.
std::size_t stringsIn(const CFlashAMFObject* value)
{
    if (const auto* array = dynamic_cast<const CFlashAMFArray*>(value)) {
        std::size_t count = 0;
        for (std::int32_t i = 0; i < array->count(); ++i)
            count += stringsIn(array->item(i));
        return count;
    }
    if (const auto* object = dynamic_cast<const CFlashAMFAssociativeArray*>(value)) {
        std::size_t count = 0;
        for (std::int32_t i = 0; i < object->count(); ++i)
            count += 1 + stringsIn(object->valueAt(i));
        return count;
    }
    return value && (value->getType() == kAmfString || value->getType() == kAmfXml) ? 1 : 0;
}

std::size_t stringsIn(const Body& input)
{
    std::size_t count = 0;
    for (const AmfValuePtr& value : decode(input.bytes))
        count += stringsIn(value.get());
    return count;
}

std::size_t valuesIn(const Body& input)
{
    std::size_t count = 0;
    for (const AmfValuePtr& value : decode(input.bytes))
        count += valuesIn(value.get());
    return count;
}

void report(benchmark::State& state, const Body& input, std::uint64_t allocationsBefore)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.bytes.size()));
    const double perRun =
        static_cast<double>(allocations - allocationsBefore) / static_cast<double>(state.iterations());
    state.counters["allocs"] = perRun;
    state.counters["bytes_per_alloc"] = perRun > 0 ? input.bytes.size() / perRun : 0;
    static const std::size_t values[2] = {valuesIn(body(false)), valuesIn(body(true))};
    state.counters["allocs_per_value"] = perRun / static_cast<double>(values[state.range(0) != 0]);
    static const std::size_t strings[2] = {stringsIn(body(false)), stringsIn(body(true))};
    state.counters["allocs_per_string"] = perRun / static_cast<double>(strings[state.range(0) != 0]);
}

void oursDecode(benchmark::State& state)
{
    const Body& input = body(state.range(0) != 0);
    if (decode(input.bytes).size() != input.valueCount) {
        state.SkipWithError("the body does not decode");
        return;
    }
    const std::uint64_t before = allocations;
    for (auto _ : state) {
        std::vector<AmfValuePtr> values = decode(input.bytes);
        benchmark::DoNotOptimize(values.data());
    }
    report(state, input, before);
}

void oursEncode(benchmark::State& state)
{
    const Body& input = body(state.range(0) != 0);
    const std::vector<AmfValuePtr> values = decode(input.bytes);
    std::vector<std::uint8_t> area(2 * kBodySize);
    // ECMA arrays come back as objects, four bytes shorter each; the rest is identical.
    if (values.size() != input.valueCount || encode(values, area).empty()) {
        state.SkipWithError("the tree does not encode");
        return;
    }
    const std::uint64_t before = allocations;
    for (auto _ : state) {
        CFlashAMFWriter writer(area.data(), area.size() - CFlashAMFWriter::kHeaderSize);
        for (const AmfValuePtr& value : values)
            writer.writeValue(value.get());
        benchmark::DoNotOptimize(writer.finish());
        benchmark::ClobberMemory();
    }
    report(state, input, before);
}

void librtmpDecode(benchmark::State& state)
{
    const Body& input = body(state.range(0) != 0);
    const auto* bytes = reinterpret_cast<const char*>(input.bytes.data());
    const int size = static_cast<int>(input.bytes.size());
    for (auto _ : state) {
        AMFObject object;
        const int used = AMF_Decode(&object, bytes, size, FALSE);
        if (used != size || static_cast<std::size_t>(object.o_num) != input.valueCount) {
            state.SkipWithError("librtmp does not decode the body");
            break;
        }
        benchmark::DoNotOptimize(object.o_props);
        AMF_Reset(&object);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.bytes.size()));
}

void librtmpEncode(benchmark::State& state)
{
    const Body& input = body(state.range(0) != 0);
    AMFObject object;
    AMF_Decode(&object, reinterpret_cast<const char*>(input.bytes.data()), static_cast<int>(input.bytes.size()), FALSE);
    std::vector<char> out(2 * kBodySize);
    const auto encodeAll = [&] {
        char* next = out.data();
        for (int i = 0; i < object.o_num && next; ++i)
            next = AMFProp_Encode(AMF_GetProp(&object, nullptr, i), next, out.data() + out.size());
        return next;
    };
    const char* end = encodeAll();
    // A date has no encoder in librtmp: it stops there.
    if (!end || static_cast<std::size_t>(end - out.data()) != input.bytes.size()) {
        state.SkipWithError("librtmp cannot encode this tree");
    } else {
        for (auto _ : state) {
            benchmark::DoNotOptimize(encodeAll());
            benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.bytes.size()));
    }
    AMF_Reset(&object);
}

} // namespace

// Argument 1: the mixed body with dates; 0: the same shape without dates.
BENCHMARK(oursDecode)->Arg(1)->Arg(0);
BENCHMARK(librtmpDecode)->Arg(1)->Arg(0);
BENCHMARK(oursEncode)->Arg(1)->Arg(0);
BENCHMARK(librtmpEncode)->Arg(0);

BENCHMARK_MAIN();
