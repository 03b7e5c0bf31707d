// tovin-lc: sees and drives the Flash Player's LocalConnection traffic from a command
// line, with the launcher's own codec and transport. It never shows a box: what the
// transport would report in one goes to standard error.
#include "ConsoleText.h"

#include "amf/TextEncoding.h"
#include "amf/ValueSyntax.h"
#include "localconnection/FlashLocalConnection.h"
#include "localconnection/LockedPass.h"
#include "localconnection/MessageText.h"

#include <shellapi.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr int kExitBadArguments = 1;
constexpr int kExitNoAnswer = 2; // not listening, not written, no answer in time, mutex never free
constexpr int kExitNoFlashPlayer = 3;
constexpr char kDefaultReply[] = "_tovin_lc";
constexpr DWORD kDefaultTimeoutMs = 30000;
constexpr DWORD kPassPauseMs = 10;
// Longer than a pass that waits the whole 5 s for a mutex someone else holds.
constexpr DWORD kRegisterWaitMs = 12000;
constexpr DWORD kStopWaitMs = 6000;
constexpr UINT kAnswerMessage = WM_APP + 1;
constexpr unsigned long kMaxSeconds = 7 * 24 * 3600;

constexpr char kMainHelp[] =
    "tovin-lc: see and drive LocalConnection traffic (the game's Flash content and the launcher).\n"
    "\n"
    "  tovin-lc table                 the names that listen, one per line\n"
    "  tovin-lc slot                  the message waiting in the slot, or \"free\"\n"
    "  tovin-lc watch [--seconds N]   every message that passes, until N seconds or Ctrl+C\n"
    "  tovin-lc call [--timeout MS] [--reply NAME] CONNECTION METHOD [VALUE...]\n"
    "                                 call METHOD(reply name, VALUE...) and print the answer\n"
    "\n"
    "tovin-lc COMMAND --help describes one command. Exit codes: 0 done, 1 bad arguments,\n"
    "2 nobody listening or no answer in time, 3 no Flash Player running.\n"
    "\n"
    "Example:\n"
    "  tovin-lc call __qel.external.connector__ HttpDownload http://example.com/a.png C:\\Temp\\a.png";

constexpr char kTableHelp[] = "tovin-lc table\n"
                              "\n"
                              "Prints the Flash Player's listener table, one connection name per line, in the order\n"
                              "the names were entered. Names are never removed, so a name may belong to a program\n"
                              "that has ended.\n"
                              "\n"
                              "Example:\n"
                              "  tovin-lc table\n"
                              "  __qel.external.connector__\n"
                              "  tovin.game.reply";

constexpr char kSlotHelp[] = "tovin-lc slot\n"
                             "\n"
                             "Prints \"free\", or the message waiting in the slot as\n"
                             "  to NAME from DOMAIN: METHOD(ARGS)\n"
                             "with the arguments in the launcher's value dump text. A body that does not decode\n"
                             "prints as its recipient, its length and its first bytes in hex. Nothing is taken.\n"
                             "\n"
                             "Example:\n"
                             "  tovin-lc slot\n"
                             "  to tovin.game.reply from localhost: onHttpDownloadComplete()";

constexpr char kWatchHelp[] = "tovin-lc watch [--seconds N]\n"
                              "\n"
                              "Takes one locked pass every 10 ms, as every participant does, and prints each message\n"
                              "it sees once, as\n"
                              "  +MS to NAME from DOMAIN: METHOD(ARGS)\n"
                              "with MS the milliseconds since the watch began. It ends after N seconds (default:\n"
                              "until Ctrl+C) with a summary line. It never takes a message: one that its addressee\n"
                              "takes between two passes is not seen.\n"
                              "\n"
                              "Example:\n"
                              "  tovin-lc watch --seconds 30";

constexpr char kCallHelp[] =
    "tovin-lc call [--timeout MS] [--reply NAME] CONNECTION METHOD [VALUE...]\n"
    "\n"
    "Enters the reply name (default _tovin_lc) in the listener table if it is not there,\n"
    "sends METHOD(reply name, VALUE...) to CONNECTION once the slot is free, waits for the\n"
    "first message addressed to the reply name (default 30000 ms), takes it and prints it\n"
    "as CALLBACK(ARGS). A CONNECTION that is not listening, or no answer in time, ends\n"
    "with exit code 2.\n"
    "\n"
    "A VALUE is JSON: 12.5, true, false, null, \"text\", [...] a strict array,\n"
    "{\"key\": ...} an associative array, {\"$date\": MS} a date; NaN, Infinity, -Infinity.\n"
    "A word that is not JSON is\n"
    "a string as it stands, so paths and URLs need no quotes; a word that begins with\n"
    "\", [ or { must be JSON.\n"
    "\n"
    "Examples:\n"
    "  tovin-lc call __qel.external.connector__ Foo\n"
    "  onUnknownMethod()\n"
    "  tovin-lc call __qel.external.connector__ BrowseFile C:\\Games \"\" {\"0\":\"Images\",\"1\":\"*.png\"}\n"
    "  tovin-lc call __qel.external.connector__ ScreenResolutionEnable 800 600 32";

struct Outcome {
    int code;
    std::string message; // UTF-8, for standard error; empty when there is nothing to say
};

Outcome failure(int code, const std::string& message)
{
    return {code, "tovin-lc: " + message};
}

const Outcome kNoFlashPlayer =
    failure(kExitNoFlashPlayer, "no Flash Player is running (no LocalConnection mutex or section)");
const Outcome kMutexBusy = failure(kExitNoAnswer, "the LocalConnection mutex stayed taken for 5 s");

std::vector<std::string> utf8Arguments()
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; wide && i < count; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string utf8(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, utf8.data(), size, nullptr, nullptr);
        arguments.push_back(std::move(utf8));
    }
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

bool parseCount(const std::string& text, unsigned long maximum, unsigned long& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
        return false;
    value = std::strtoul(text.c_str(), nullptr, 10);
    return value > 0 && value <= maximum;
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
    if (!arguments.empty())
        return failure(kExitBadArguments, "slot takes no arguments");
    std::vector<std::uint8_t> copy;
    const PassResult result = inPass([&](lc::SectionView view) { copy = lc::copySlot(view); });
    if (result != PassResult::Done)
        return passFailure(result);
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
    if (arguments.size() == 2 && arguments[0] == "--seconds") {
        if (!parseCount(arguments[1], kMaxSeconds, seconds))
            return failure(kExitBadArguments, "--seconds takes a whole number of seconds from 1 to 604800");
    } else if (!arguments.empty()) {
        return failure(kExitBadArguments, "watch takes only --seconds N");
    }
    UniqueHandle stop(CreateEventA(nullptr, TRUE, FALSE, nullptr));
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
            writeLine(Stream::Out, "+" + std::to_string(GetTickCount64() - start) + " " + lc::messageText(last));
        }
    } while (WaitForSingleObject(stop.get(), kPassPauseMs) == WAIT_TIMEOUT &&
             (seconds == 0 || GetTickCount64() - start < seconds * 1000ULL));
    SetConsoleCtrlHandler(stopWatching, FALSE);
    char summary[128];
    std::snprintf(summary, sizeof summary, "watched %.1f s: %llu messages seen in %llu passes",
                  static_cast<double>(GetTickCount64() - start) / 1000.0, seen, passes);
    writeLine(Stream::Out, summary);
    return {0, ""};
}

// The reply connector's receive thread is stopped and joined before it goes away; the
// records still queued for the window are freed.
class ReplyListener {
public:
    explicit ReplyListener(const std::string& name)
        : window_(CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)),
          connector_(name.c_str(), window_, kAnswerMessage)
    {
        connector_.startReceiving();
    }
    ~ReplyListener()
    {
        connector_.requestStop();
        if (!connector_.waitForReceiving(kStopWaitMs))
            ExitProcess(kExitNoAnswer); // the thread still uses the connector: end here
        MSG msg;
        while (PeekMessageA(&msg, window_, kAnswerMessage, kAnswerMessage, PM_REMOVE))
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
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.hwnd == window_ && msg.message == kAnswerMessage)
                    return take(msg);
                DispatchMessageA(&msg);
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
    std::size_t at = 0;
    for (; at + 1 < arguments.size() && arguments[at].rfind("--", 0) == 0; at += 2) {
        if (arguments[at] == "--timeout") {
            if (!parseCount(arguments[at + 1], 24 * 3600 * 1000UL, timeoutMs))
                return failure(kExitBadArguments, "--timeout takes a whole number of milliseconds from 1 to 86400000");
        } else if (arguments[at] == "--reply") {
            reply = arguments[at + 1];
        } else {
            return failure(kExitBadArguments, "unknown option " + arguments[at] + " (see tovin-lc call --help)");
        }
    }
    if (arguments.size() < at + 2)
        return failure(kExitBadArguments, "call needs CONNECTION and METHOD (see tovin-lc call --help)");
    // Names and texts are held in the ANSI code page, as the launcher holds them.
    const std::string recipient = utf8ToAnsi(arguments[at]);
    const std::string method = utf8ToAnsi(arguments[at + 1]);
    const std::string replyName = utf8ToAnsi(reply);
    for (const std::string* name : {&recipient, &replyName}) {
        if (name->empty() || name->size() > lc::kMaxNameLength)
            return failure(kExitBadArguments, "a connection name takes 1 to 255 bytes");
    }
    CFlashLocalConnectionCall outgoing("");
    outgoing.addArgument(std::make_unique<CFlashAMFString>(replyName), false);
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
        return failure(kExitNoAnswer, "nobody listens on " + arguments[at] + "; nothing was sent");

    ReplyListener listener(replyName);
    if (!listener.waitForRegistration(kRegisterWaitMs))
        return failure(kExitNoAnswer, "the reply name " + reply + " could not be entered in the listener table");
    if (!CFlashLocalConnection(recipient.c_str(), nullptr, 0).send(method.c_str(), &outgoing))
        return failure(kExitNoAnswer, "the call to " + arguments[at] + " was not written");
    const std::unique_ptr<CFlashLocalConnectionCall> answer = listener.waitForAnswer(timeoutMs);
    if (!answer)
        return failure(kExitNoAnswer, "no answer on " + reply + " within " + std::to_string(timeoutMs) + " ms");
    writeLine(Stream::Out, lc::callText(answer->getMethodName(), *answer));
    return {0, ""};
}

struct Command {
    const char* name;
    Outcome (*run)(const std::vector<std::string>&);
    const char* help;
};

constexpr Command kCommands[] = {
    {"table", table, kTableHelp},
    {"slot", slot, kSlotHelp},
    {"watch", watch, kWatchHelp},
    {"call", call, kCallHelp},
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
        writeUtf8Line(Stream::Out, kMainHelp);
        return {0, ""};
    }
    for (const Command& command : kCommands) {
        if (arguments[0] != command.name)
            continue;
        if (arguments.size() > 1 && asksForHelp(arguments[1])) {
            writeUtf8Line(Stream::Out, command.help);
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
        writeUtf8Line(Stream::Err, outcome.message);
    return outcome.code;
}
