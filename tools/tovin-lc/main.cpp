// tovin-lc: sees and drives the Flash Player's LocalConnection traffic from a command
// line, with the launcher's own codec and transport. It never shows a box: what the
// transport would report in one goes to standard error.
#include "CommandSupport.h"
#include "ConsoleText.h"
#include "DebugOutput.h"
#include "Serve.h"
#include "ServeScript.h"
#include "TraceLine.h"

#include "amf/AmfReader.h"
#include "amf/ValueSyntax.h"
#include "localconnection/FlashLocalConnection.h"
#include "localconnection/LockedPass.h"
#include "localconnection/MessageText.h"
#include "localconnection/Pauses.h"
#include "win/WideText.h"

#include <nlohmann/json.hpp>
#include <shellapi.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr char kDefaultReply[] = "_tovin_lc";
constexpr DWORD kDefaultTimeoutMs = 30000;
// The watch paces its passes as the launcher's receive loop does.
constexpr DWORD kPassPauseMs = lc::pauses::kAfterReceivePassMs;
// Longer than a pass that waits the whole 5 s for a mutex someone else holds.
constexpr DWORD kRegisterWaitMs = 12000;
constexpr DWORD kStopWaitMs = 6000;
constexpr UINT kAnswerMessage = WM_APP + 1;

constexpr char kMainHelp[] =
    "tovin-lc: see and drive LocalConnection traffic (the game's Flash content and the launcher).\n"
    "\n"
    "  tovin-lc table                 the names that listen, one per line\n"
    "  tovin-lc slot [--json]         the message waiting in the slot, or \"free\"\n"
    "  tovin-lc watch [--seconds N] [--json]\n"
    "                                 the messages seen in the slot, until N seconds or Ctrl+C\n"
    "  tovin-lc trace [--seconds N] [--json]\n"
    "                                 every line the launcher traces: each call, answer and box\n"
    "  tovin-lc call [--timeout MS] [--reply NAME] [--json] CONNECTION METHOD [VALUE...]\n"
    "                                 call METHOD(reply name, VALUE...) and print the answer\n"
    "  tovin-lc serve [--json] [--seconds N] [--defaults launcher] [--check] SCRIPT\n"
    "                                 answer the game's calls as SCRIPT says, in the launcher's place\n"
    "\n"
    "With --json each event is one JSON object on a line of its own.\n"
    "tovin-lc COMMAND --help describes one command. Exit codes: 0 done, 1 bad arguments,\n"
    "2 nobody listening or no answer in time, 3 no Flash Player running.\n"
    "\n"
    "Example:\n"
    "  tovin-lc call __qel.external.connector__ HttpDownload http://example.com/a.png C:\\Temp\\a.png\n";

constexpr char kTableHelp[] = "tovin-lc table\n"
                              "\n"
                              "Prints the Flash Player's listener table, one connection name per line, in the order\n"
                              "the names were entered. Names are never removed, so a name may belong to a program\n"
                              "that has ended.\n"
                              "\n"
                              "Example:\n"
                              "  tovin-lc table\n"
                              "  __qel.external.connector__\n"
                              "  tovin.game.reply\n";

constexpr char kSlotHelp[] = "tovin-lc slot [--json]\n"
                             "\n"
                             "Prints \"free\", or the message waiting in the slot as\n"
                             "  to NAME from DOMAIN: METHOD(ARGS)\n"
                             "with the arguments in the launcher's value dump text. A body that does not decode\n"
                             "prints as its recipient, its length and its first bytes in hex. Nothing is taken.\n"
                             "With --json: {\"kind\":\"free\"}, or kind \"message\" with connection, domain, method\n"
                             "and args (each a VALUE as call reads it), or kind \"undecodable\" with its text.\n"
                             "\n"
                             "Example:\n"
                             "  tovin-lc slot\n"
                             "  to tovin.game.reply from localhost: onHttpDownloadComplete()\n";

constexpr char kWatchHelp[] =
    "tovin-lc watch [--seconds N] [--json]\n"
    "\n"
    "Takes one locked pass every {pause} ms, as every participant does, and prints each message\n"
    "it sees once, as\n"
    "  +MS to NAME from DOMAIN: METHOD(ARGS)\n"
    "with MS the milliseconds since the watch began. It ends after N seconds (default:\n"
    "until Ctrl+C) with a summary line. It never takes a message: one that its addressee\n"
    "takes between two passes is not seen (tovin-lc trace sees all the launcher's).\n"
    "With --json each message is a line as slot --json prints it, with its time.\n"
    "\n"
    "Example:\n"
    "  tovin-lc watch --seconds 30\n";

constexpr char kTraceHelp[] =
    "tovin-lc trace [--seconds N] [--json]\n"
    "\n"
    "Prints every line that a program writes with OutputDebugStringA, as it comes, as\n"
    "  +MS pid PID: LINE\n"
    "with MS the milliseconds since the trace began and PID the writer's process id. The\n"
    "launcher's lines begin with \"tovin: \": every call it takes, every answer it sends and\n"
    "every box it shows, in order. It ends after N seconds (default: until Ctrl+C) with a\n"
    "summary of the lines, calls, answers and boxes. It reads the system's debug-output\n"
    "buffer as debuggers do, so it cannot run beside a debugger or DebugView, nor twice.\n"
    "Each writer waits until its line is taken, so lines are taken at once and wait for\n"
    "the output in a bounded queue: while the output is blocked (a console paused in a\n"
    "selection, a pipe into more) the lines past the bound are dropped, and counted.\n"
    "With --json each line is an object: kind call, answer or box with connection, method\n"
    "and args (each a VALUE as call reads it), or kind line with its text.\n"
    "\n"
    "Example:\n"
    "  tovin-lc trace --seconds 60\n";

constexpr char kCallHelp[] =
    "tovin-lc call [--timeout MS] [--reply NAME] [--json] CONNECTION METHOD [VALUE...]\n"
    "\n"
    "Enters the reply name (default _tovin_lc) in the listener table if it is not there,\n"
    "sends METHOD(reply name, VALUE...) to CONNECTION once the slot is free, waits for the\n"
    "first message addressed to the reply name (default 30000 ms), takes it and prints it\n"
    "as CALLBACK(ARGS). A CONNECTION that is not listening, or no answer in time, ends\n"
    "with exit code 2. With --json the answer is one line: time (ms since the call), kind,\n"
    "connection, method and args, each a VALUE that reads back as the same bytes.\n"
    "\n"
    "A VALUE is JSON: 12.5, true, false, null, \"text\", [...] a strict array,\n"
    "{\"key\": ...} an associative array, {\"$date\": MS} a date; NaN, Infinity and\n"
    "-Infinity are numbers. A word that is not JSON is a string as it stands, so paths\n"
    "and URLs need no quotes; a word that begins with \", [ or { must be JSON.\n"
    "\n"
    "Examples:\n"
    "  tovin-lc call __qel.external.connector__ Foo\n"
    "  onUnknownMethod()\n"
    "  tovin-lc call __qel.external.connector__ BrowseFile C:\\Games \"\" {\"0\":\"Images\",\"1\":\"*.png\"}\n"
    "  tovin-lc call __qel.external.connector__ ScreenResolutionEnable 800 600 32\n";

const Outcome kNoFlashPlayer =
    failure(kExitNoFlashPlayer, "no Flash Player is running (no LocalConnection mutex or section)");
const Outcome kMutexBusy = failure(kExitNoAnswer, "the LocalConnection mutex stayed taken for 5 s");

std::vector<std::string> utf8Arguments()
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; wide && i < count; ++i)
        arguments.push_back(win::narrow(wide[i]));
    LocalFree(wide);
    return arguments;
}

void reportToStandardError(const char* caption, const char* text)
{
    writeLine(Stream::Err, std::string("tovin-lc: ") + caption + ": " + text);
}

enum class PassResult { Done, NoFlashPlayer, Busy };

// One locked pass, as the launcher takes them, with `work` on the view. The work only
// copies: whatever is printed is printed after the mutex is let go.
template <typename Work>
PassResult inPass(Work work)
{
    lc::LockedPass pass;
    switch (pass.waitResult()) {
    case lc::WaitResult::Acquired:
        break;
    case lc::WaitResult::Failed:
        return PassResult::NoFlashPlayer;
    default:
        return PassResult::Busy;
    }
    if (!pass.map())
        return PassResult::NoFlashPlayer;
    work(pass.view());
    pass.close();
    return PassResult::Done;
}

Outcome passFailure(PassResult result)
{
    return result == PassResult::NoFlashPlayer ? kNoFlashPlayer : kMutexBusy;
}

// The slot's message as one JSON object ("time" first when given).
Json slotJson(const std::vector<std::uint8_t>& slot, const Json& time = nullptr)
{
    Json line;
    if (!time.is_null())
        line["time"] = time;
    if (slot.size() <= lc::kBodyOffset) {
        line["kind"] = "free";
        return line;
    }
    const lc::SectionView view{const_cast<std::uint8_t*>(slot.data()), slot.size()};
    lc::HeaderProblem problem;
    const std::unique_ptr<CFlashLocalConnectionCall> call = lc::deserializeRemoteCall(view, &problem);
    if (!call) {
        line["kind"] = "undecodable";
        line["text"] = lc::messageText(slot);
        return line;
    }
    // The call decoded, so its two leading strings do too.
    CFlashAMFReader reader(slot.data() + lc::kBodyOffset, slot.size() - lc::kBodyOffset);
    reader.readByte();
    const std::string recipient = reader.readShortString();
    reader.readByte();
    const std::string domain = reader.readShortString();
    line["kind"] = "message";
    line["connection"] = recipient;
    line["domain"] = domain;
    line["method"] = call->getMethodName();
    line["args"] = argumentWords(call->getArguments());
    return line;
}

// Options of watch and trace: [--seconds N] [--json], in any order.
bool readRunOptions(const std::vector<std::string>& arguments, unsigned long& seconds, bool& json, Outcome& bad)
{
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--json") {
            json = true;
        } else if (arguments[i] == "--seconds" && i + 1 < arguments.size()) {
            if (!parseCount(arguments[++i], kMaxSeconds, seconds)) {
                bad = failure(kExitBadArguments, "--seconds takes a whole number of seconds from 1 to 604800");
                return false;
            }
        } else {
            bad = failure(kExitBadArguments, "unknown option " + arguments[i] + " (only --seconds N and --json)");
            return false;
        }
    }
    return true;
}

Outcome table(const std::vector<std::string>& arguments)
{
    if (!arguments.empty())
        return failure(kExitBadArguments, "table takes no arguments");
    std::vector<std::string> names;
    const PassResult result = inPass([&](lc::SectionView view) { names = lc::listenerNames(view); });
    if (result != PassResult::Done)
        return passFailure(result);
    for (const std::string& name : names)
        writeLine(Stream::Out, name);
    return {0, ""};
}

Outcome slot(const std::vector<std::string>& arguments)
{
    const bool json = arguments.size() == 1 && arguments[0] == "--json";
    if (!arguments.empty() && !json)
        return failure(kExitBadArguments, "slot takes only --json");
    std::vector<std::uint8_t> copy;
    const PassResult result = inPass([&](lc::SectionView view) { copy = lc::copySlot(view); });
    if (result != PassResult::Done)
        return passFailure(result);
    if (json)
        writeJson(slotJson(copy));
    else
        writeLine(Stream::Out, lc::messageText(copy));
    return {0, ""};
}

// Set by Ctrl+C, which the system delivers on a thread of its own.
HANDLE g_watchStop = nullptr;

BOOL WINAPI stopWatching(DWORD)
{
    SetEvent(g_watchStop);
    return TRUE;
}

// The slot holds the message last copied (from the timestamp on): seen already.
bool sameMessage(lc::SectionView view, const std::vector<std::uint8_t>& last)
{
    const std::size_t size = lc::kBodyOffset + std::min<std::size_t>(lc::messageLength(view), lc::bodyRoom(view));
    return last.size() == size && std::memcmp(view.data + lc::kTimestampOffset, last.data() + lc::kTimestampOffset,
                                              size - lc::kTimestampOffset) == 0;
}

Outcome watch(const std::vector<std::string>& arguments)
{
    unsigned long seconds = 0;
    bool json = false;
    Outcome bad;
    if (!readRunOptions(arguments, seconds, json, bad))
        return bad;
    UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_watchStop = stop.get();
    SetConsoleCtrlHandler(stopWatching, TRUE);

    const ULONGLONG start = GetTickCount64();
    std::vector<std::uint8_t> last;
    unsigned long long seen = 0;
    unsigned long long passes = 0;
    bool anyPass = false;
    do {
        bool fresh = false;
        const PassResult result = inPass([&](lc::SectionView view) {
            if (lc::messageLength(view) == 0) {
                last.clear();
            } else if (!sameMessage(view, last)) {
                last = lc::copySlot(view);
                fresh = true;
            }
        });
        if (result == PassResult::Done) {
            anyPass = true;
            ++passes;
        } else if (!anyPass && result == PassResult::NoFlashPlayer) {
            SetConsoleCtrlHandler(stopWatching, FALSE);
            return kNoFlashPlayer;
        }
        if (fresh) {
            ++seen;
            const ULONGLONG at = GetTickCount64() - start;
            if (json)
                writeJson(slotJson(last, at));
            else
                writeLine(Stream::Out, "+" + std::to_string(at) + " " + lc::messageText(last));
        }
    } while (WaitForSingleObject(stop.get(), kPassPauseMs) == WAIT_TIMEOUT &&
             (seconds == 0 || GetTickCount64() - start < seconds * 1000ULL));
    SetConsoleCtrlHandler(stopWatching, FALSE);
    const double watched = static_cast<double>(GetTickCount64() - start) / 1000.0;
    if (json) {
        writeJson(Json{{"kind", "summary"}, {"seconds", watched}, {"messages", seen}, {"passes", passes}});
        return {0, ""};
    }
    char summary[128];
    std::snprintf(summary, sizeof summary, "watched %.1f s: %llu messages seen in %llu passes", watched, seen, passes);
    writeLine(Stream::Out, summary);
    return {0, ""};
}

std::string lineText(const TraceEvent& event)
{
    return event.fromLauncher ? event.text : ansiLineToUtf8(event.text);
}

Json traceJson(const TraceEvent& event, ULONGLONG at, DWORD processId)
{
    Json line{{"time", at}, {"pid", processId}};
    switch (event.kind) {
    case TraceEvent::Kind::Call:
        line["kind"] = "call";
        break;
    case TraceEvent::Kind::Answer:
        line["kind"] = "answer";
        line["sent"] = event.sent;
        break;
    case TraceEvent::Kind::Box:
        line["kind"] = "box";
        break;
    case TraceEvent::Kind::Line:
        line["kind"] = "line";
        break;
    }
    if (!event.exact) {
        // Not the launcher's, or too long for the values to come with it.
        line["text"] = lineText(event);
    } else if (event.kind == TraceEvent::Kind::Box) {
        line["caption"] = event.method;
        line["text"] = event.boxText;
    } else {
        line["connection"] = event.connection;
        line["method"] = event.method;
        line["args"] = argumentWords(event.arguments);
    }
    return line;
}

Outcome trace(const std::vector<std::string>& arguments)
{
    unsigned long seconds = 0;
    bool json = false;
    Outcome bad;
    if (!readRunOptions(arguments, seconds, json, bad))
        return bad;
    auto listener = std::make_unique<DebugOutputListener>();
    switch (listener->open()) {
    case DebugOutputListener::Opened::Listening:
        break;
    case DebugOutputListener::Opened::Taken:
        return failure(kExitNoAnswer, "another program (a debugger, DebugView) reads the debug output already");
    case DebugOutputListener::Opened::Failed:
        return failure(kExitNoAnswer, "the debug-output buffer could not be made");
    }
    UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_watchStop = stop.get();
    SetConsoleCtrlHandler(stopWatching, TRUE);

    const ULONGLONG start = GetTickCount64();
    const ULONGLONG end = seconds ? start + seconds * 1000ULL : ~0ULL;
    DebugOutputRelay relay(std::move(listener));
    if (!relay.start()) {
        SetConsoleCtrlHandler(stopWatching, FALSE);
        return failure(kExitNoAnswer, "the debug-output buffer could not be read");
    }
    unsigned long long counts[4] = {}; // by TraceEvent::Kind
    unsigned long long lines = 0;
    const auto print = [&](const DebugLine& line) {
        const ULONGLONG at = line.takenAt - start;
        const TraceEvent event = readTraceLine(line.text);
        ++lines;
        ++counts[static_cast<int>(event.kind)];
        if (json)
            writeJson(traceJson(event, at, line.processId));
        else
            writeLine(Stream::Out,
                      "+" + std::to_string(at) + " pid " + std::to_string(line.processId) + ": " + lineText(event));
    };
    DebugLine line;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= end)
            break;
        const DWORD wait = static_cast<DWORD>(std::min<ULONGLONG>(end - now, 1000));
        const DebugOutputListener::Wait result = relay.next(stop.get(), wait, line);
        if (result == DebugOutputListener::Wait::Stopped)
            break;
        if (result == DebugOutputListener::Wait::Line)
            print(line);
    }
    relay.stopTaking();
    // What was taken in time is printed still (the queue has a line first, whatever the stop).
    while (relay.next(stop.get(), 0, line) == DebugOutputListener::Wait::Line)
        print(line);
    SetConsoleCtrlHandler(stopWatching, FALSE);
    const double traced = static_cast<double>(GetTickCount64() - start) / 1000.0;
    const auto calls = counts[static_cast<int>(TraceEvent::Kind::Call)];
    const auto answers = counts[static_cast<int>(TraceEvent::Kind::Answer)];
    const auto boxes = counts[static_cast<int>(TraceEvent::Kind::Box)];
    const unsigned long long dropped = relay.dropped();
    if (json) {
        writeJson(Json{{"kind", "summary"},
                       {"seconds", traced},
                       {"lines", lines},
                       {"calls", calls},
                       {"answers", answers},
                       {"boxes", boxes},
                       {"dropped", dropped}});
        return {0, ""};
    }
    char summary[192];
    std::snprintf(summary, sizeof summary,
                  "traced %.1f s: %llu lines, %llu calls, %llu answers, %llu boxes, %llu dropped", traced, lines, calls,
                  answers, boxes, dropped);
    writeLine(Stream::Out, summary);
    return {0, ""};
}

// The reply connector's receive thread is stopped and joined before it goes away; the
// records still queued for the window are freed.
class ReplyListener {
public:
    explicit ReplyListener(const std::string& name)
        : window_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)),
          connector_(name.c_str(), window_, kAnswerMessage)
    {
        connector_.startReceiving();
    }
    ~ReplyListener()
    {
        if (!connector_.stopReceiving(kStopWaitMs))
            ExitProcess(kExitNoAnswer); // the thread still uses the connector: end here
        MSG msg;
        while (PeekMessageW(&msg, window_, kAnswerMessage, kAnswerMessage, PM_REMOVE))
            take(msg);
        DestroyWindow(window_);
    }
    ReplyListener(const ReplyListener&) = delete;
    ReplyListener& operator=(const ReplyListener&) = delete;

    bool waitForRegistration(DWORD timeoutMs) const
    {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        while (!connector_.isRegistered()) {
            if (GetTickCount64() >= deadline || connector_.receiveExitCode() != STILL_ACTIVE)
                return false;
            Sleep(kPassPauseMs);
        }
        return true;
    }

    // The first record posted within the time, or null.
    std::unique_ptr<CFlashLocalConnectionCall> waitForAnswer(DWORD timeoutMs)
    {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.hwnd == window_ && msg.message == kAnswerMessage)
                    return take(msg);
                DispatchMessageW(&msg);
            }
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                return nullptr;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        }
    }

private:
    // The connector holds what it posted until it is taken; a message naming nothing it
    // holds gives nothing.
    std::unique_ptr<CFlashLocalConnectionCall> take(const MSG& msg)
    {
        return connector_.holdsPosted(msg.wParam) ? connector_.takeOldestPosted() : nullptr;
    }

    HWND window_;
    CFlashLocalConnection connector_;
};

Outcome call(const std::vector<std::string>& arguments)
{
    unsigned long timeoutMs = kDefaultTimeoutMs;
    std::string reply = kDefaultReply;
    bool json = false;
    std::size_t at = 0;
    while (at < arguments.size() && arguments[at].rfind("--", 0) == 0) {
        const std::string& option = arguments[at++];
        if (option == "--json") {
            json = true;
            continue;
        }
        if (at >= arguments.size())
            return failure(kExitBadArguments, option + " needs a value (see tovin-lc call --help)");
        const std::string& value = arguments[at++];
        if (option == "--timeout") {
            if (!parseCount(value, 24 * 3600 * 1000UL, timeoutMs))
                return failure(kExitBadArguments, "--timeout takes a whole number of milliseconds from 1 to 86400000");
        } else if (option == "--reply") {
            reply = value;
        } else {
            return failure(kExitBadArguments, "unknown option " + option + " (see tovin-lc call --help)");
        }
    }
    if (arguments.size() < at + 2)
        return failure(kExitBadArguments, "call needs CONNECTION and METHOD (see tovin-lc call --help)");
    const std::string& recipient = arguments[at];
    const std::string& method = arguments[at + 1];
    const auto fits = [](const std::string& name) { return !name.empty() && name.size() <= lc::kMaxNameLength; };
    if (!fits(recipient) || !fits(reply))
        return failure(kExitBadArguments, "a connection name takes 1 to 255 bytes");
    CFlashLocalConnectionCall outgoing("");
    outgoing.addArgument(std::make_unique<CFlashAMFString>(reply), false);
    for (std::size_t i = at + 2; i < arguments.size(); ++i) {
        ValueSyntaxError error;
        AmfValuePtr value = parseValueWord(arguments[i], error, ValueOrder::ForTheWire);
        if (!value)
            return failure(kExitBadArguments, "VALUE " + std::to_string(i - at - 1) + " (" + arguments[i] +
                                                  "): bad JSON: " + error.text());
        outgoing.addArgument(std::move(value), false);
    }

    bool listening = false;
    const PassResult result = inPass(
        [&](lc::SectionView view) { listening = lc::findConnection(view, recipient).kind == lc::TableScan::Found; });
    if (result != PassResult::Done)
        return passFailure(result);
    if (!listening)
        return failure(kExitNoAnswer, "nobody listens on " + recipient + "; nothing was sent");

    ReplyListener listener(reply);
    if (!listener.waitForRegistration(kRegisterWaitMs))
        return failure(kExitNoAnswer, "the reply name " + reply + " could not be entered in the listener table");
    const ULONGLONG start = GetTickCount64();
    if (!CFlashLocalConnection(recipient.c_str(), nullptr, 0).send(method.c_str(), &outgoing))
        return failure(kExitNoAnswer, "the call to " + recipient + " was not written");
    const std::unique_ptr<CFlashLocalConnectionCall> answer = listener.waitForAnswer(timeoutMs);
    if (!answer)
        return failure(kExitNoAnswer, "no answer on " + reply + " within " + std::to_string(timeoutMs) + " ms");
    if (json)
        writeJson(Json{{"time", GetTickCount64() - start},
                       {"kind", "answer"},
                       {"connection", reply},
                       {"method", answer->getMethodName()},
                       {"args", argumentWords(answer->getArguments())}});
    else
        writeLine(Stream::Out, lc::callText(answer->getMethodName(), *answer));
    return {0, ""};
}

struct Command {
    const char* name;
    Outcome (*run)(const std::vector<std::string>&);
    const char* help;
};

constexpr Command kCommands[] = {
    {"table", table, kTableHelp}, {"slot", slot, kSlotHelp}, {"watch", watch, kWatchHelp},
    {"trace", trace, kTraceHelp}, {"call", call, kCallHelp}, {"serve", serve, kServeHelp},
};

bool asksForHelp(const std::string& word)
{
    return word == "--help" || word == "-h" || word == "/?" || word == "help";
}

Outcome run(const std::vector<std::string>& arguments)
{
    if (arguments.empty())
        return {kExitBadArguments, kMainHelp};
    if (asksForHelp(arguments[0])) {
        writeText(Stream::Out, kMainHelp);
        return {0, ""};
    }
    for (const Command& command : kCommands) {
        if (arguments[0] != command.name)
            continue;
        if (arguments.size() > 1 && asksForHelp(arguments[1])) {
            // What a help text speaks of comes from its source: the transport's pace, the
            // method table's defaults.
            std::string help = command.help;
            const auto fill = [&help](std::string_view mark, const std::string& text) {
                if (const std::size_t at = help.find(mark); at != std::string::npos)
                    help.replace(at, mark.size(), text);
            };
            fill("{pause}", std::to_string(kPassPauseMs));
            fill("{defaults}", ServeScript::launcherDefaultsText());
            writeText(Stream::Out, help);
            return {0, ""};
        }
        return command.run(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    }
    return failure(kExitBadArguments, "unknown command " + arguments[0] + " (see tovin-lc --help)");
}

} // namespace

int main()
{
    lc::setReportSink(reportToStandardError);
    Outcome outcome{kExitBadArguments, "tovin-lc: out of memory"};
    try {
        outcome = run(utf8Arguments());
    } catch (const std::bad_alloc&) {
    }
    if (!outcome.message.empty())
        writeText(Stream::Err, outcome.message.back() == '\n' ? outcome.message : outcome.message + '\n');
    return outcome.code;
}
