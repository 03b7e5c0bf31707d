#include "TraceLine.h"

#include "amf/AmfReader.h"
#include "amf/AmfWriter.h"

#include <cstdint>
#include <string_view>

namespace {

constexpr std::string_view kTailMark = " |amf ";

bool startsWith(std::string_view text, std::string_view start)
{
    return text.substr(0, start.size()) == start;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool decodeTail(std::string_view hex, std::vector<AmfValuePtr>& values)
{
    if (hex.size() % 2 != 0)
        return false;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexDigit(hex[i]);
        const int low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    CFlashAMFReader reader(bytes.data(), bytes.size());
    while (!reader.atEnd()) {
        AmfValuePtr value = reader.readValue(reader.readByte());
        if (reader.failed() || !value)
            return false;
        values.push_back(std::move(value));
    }
    return true;
}

// The writer puts containers out last to first. A value the launcher decoded holds them
// in the wire's order, so its tail has them reversed: written once more, they are back.
AmfValuePtr asReceived(const CFlashAMFObject* value)
{
    const std::size_t room = CFlashAMFWriter::sizeBound(value, 1 << 20);
    std::vector<std::uint8_t> area(CFlashAMFWriter::kHeaderSize + room);
    CFlashAMFWriter writer(area.data(), room);
    writer.writeValue(value);
    if (writer.failed())
        return nullptr;
    CFlashAMFReader reader(area.data() + CFlashAMFWriter::kHeaderSize, writer.size());
    return reader.readValue(reader.readByte());
}

std::string takeString(std::vector<AmfValuePtr>& values, std::size_t index)
{
    return index < values.size() && values[index]->getType() == kAmfString ? values[index]->toString() : "";
}

} // namespace

TraceEvent readTraceLine(const std::string& line)
{
    TraceEvent event;
    const std::size_t tail = line.rfind(kTailMark);
    event.text = line.substr(0, tail);
    std::vector<AmfValuePtr> values;
    const bool decoded =
        tail != std::string::npos && decodeTail(std::string_view(line).substr(tail + kTailMark.size()), values);

    std::size_t fixed = 0; // values before the arguments
    const std::string_view text = event.text;
    event.fromLauncher = startsWith(text, "tovin: ");
    if (startsWith(text, "tovin: call ")) {
        event.kind = TraceEvent::Kind::Call;
        event.connection = "__qel.external.connector__"; // the launcher's own
        fixed = 1;
        event.method = decoded ? takeString(values, 0) : event.text.substr(12, event.text.find('(') - 12);
    } else if (startsWith(text, "tovin: answer to ") || startsWith(text, "tovin: answer not sent to ")) {
        event.kind = TraceEvent::Kind::Answer;
        event.sent = startsWith(text, "tovin: answer to ");
        fixed = 2;
        event.connection = takeString(values, 0);
        event.method = takeString(values, 1);
    } else if (startsWith(text, "tovin: box ")) {
        event.kind = TraceEvent::Kind::Box;
        fixed = 2;
        event.method = takeString(values, 0);
        event.boxText = takeString(values, 1);
    }
    event.exact = decoded && event.kind != TraceEvent::Kind::Line && values.size() >= fixed;
    if (!event.exact)
        return event;
    for (std::size_t i = fixed; i < values.size(); ++i) {
        if (event.kind == TraceEvent::Kind::Call)
            event.arguments.push_back(asReceived(values[i].get()));
        else
            event.arguments.push_back(std::move(values[i]));
    }
    return event;
}
