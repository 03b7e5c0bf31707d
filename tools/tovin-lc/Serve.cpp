#include "Serve.h"

#include "ServeScript.h"

#include "launcher/Launcher.h"
#include "localconnection/FlashLocalConnection.h"
#include "localconnection/MessageText.h"
#include "services/Methods.h"
#include "win/WideText.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

const char kServeHelp[] =
    "tovin-lc serve [--json] [--seconds N] [--defaults launcher] SCRIPT\n"
    "tovin-lc serve --check [--defaults launcher] SCRIPT\n"
    "\n"
    "Listens on __qel.external.connector__ in place of the launcher and answers each call\n"
    "as SCRIPT says, printing each call and answer as trace does (with --json, one object\n"
    "a line). It ends on Ctrl+C, after N seconds, or after an answer whose rule says\n"
    "\"then\": \"end\", with a summary. While a launcher is running it does not start (exit\n"
    "code 2); a script with an error is named in one line (exit code 1). --check only\n"
    "reads the script.\n"
    "\n"
    "SCRIPT is a JSON list of rules, tried in order; the first that matches a call answers it:\n"
    "  \"method\"    the call's method (required)\n"
    "  \"args\"      the call's first arguments, the reply name first, each a VALUE as call\n"
    "              reads it, or \"*\" for any (\"\\\"*\\\"\" is the text *); later ones may be anything\n"
    "  \"answer\"    {\"method\": CALLBACK, \"args\": [VALUE...]}, sent to the reply name;\n"
    "              null or left out: nothing is sent\n"
    "  \"delay_ms\"  waits before answering; later calls are still taken out of the slot,\n"
    "              and answered in the order they came\n"
    "  \"times\"     the rule takes only its first N calls, then the next rule applies\n"
    "  \"then\"      \"end\": the serve ends after this answer\n"
    "A line of trace --json pastes into a rule. A call no rule matches is answered\n"
    "onUnknownMethod(). --defaults launcher adds rules that answer as the launcher does\n"
    "where it needs no network and no person (the display is never switched):\n"
    "{defaults}.\n"
    "\n"
    "Example: a download that fails with 404, then succeeds after 2 s; two files chosen;\n"
    "a cancelled save dialog; a refused display mode; Quit ends the serve.\n"
    "  [{\"method\": \"HttpDownload\", \"times\": 1, \"answer\": {\"method\": \"onHttpDownloadError\",\n"
    "     \"args\": [\"Code de retour Http non \xC3\xA9gal \xC3\xA0 200\", \"404\"]}},\n"
    "   {\"method\": \"HttpDownload\", \"delay_ms\": 2000,\n"
    "     \"answer\": {\"method\": \"onHttpDownloadComplete\", \"args\": []}},\n"
    "   {\"method\": \"BrowseFile\", \"answer\": {\"method\": \"onBrowseFileSelect\",\n"
    "     \"args\": [\"[\\\"C:\\\\\\\\Saves\\\\\\\\a.sav\\\",\\\"C:\\\\\\\\Saves\\\\\\\\b.sav\\\"]\"]}},\n"
    "   {\"method\": \"BrowseFileToSave\", \"answer\": {\"method\": \"onBrowseFileToSaveCancel\"}},\n"
    "   {\"method\": \"ScreenResolutionEnable\", \"args\": [\"*\", \"1920\"],\n"
    "     \"answer\": {\"method\": \"onScreenResolutionError\", \"args\": []}},\n"
    "   {\"method\": \"Quit\", \"then\": \"end\"}]\n"
    "  tovin-lc serve --defaults launcher game-paths.json\n";

namespace {

constexpr UINT kServeCallMessage = WM_APP + 2;
constexpr DWORD kStopWaitMs = 6000;
// One serve at a time in a session: two would share the name as a serve and the launcher would.
constexpr wchar_t kServeMutexName[] = L"TovinLcServeRunning";

HANDLE g_serveStop = nullptr;

BOOL WINAPI stopServing(DWORD)
{
    SetEvent(g_serveStop);
    return TRUE;
}

// The script's bytes, at most one more than the reader takes (so that a longer one is told).
bool readScript(const std::string& path, std::string& text)
{
    const UniqueFileHandle file(CreateFileW(win::widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    text.assign(ServeScript::kMaxScriptBytes + 1, '\0');
    std::size_t filled = 0;
    DWORD read = 0;
    while (filled < text.size() &&
           ReadFile(file.get(), text.data() + filled, static_cast<DWORD>(text.size() - filled), &read, nullptr) &&
           read > 0)
        filled += read;
    text.resize(filled);
    return true;
}

class Server {
public:
    Server(ServeScript& script, bool json, HANDLE stop, ULONGLONG end)
        : script_(script), json_(json), stop_(stop), end_(end), start_(GetTickCount64()),
          window_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)),
          connector_(kLauncherConnectionName, window_, kServeCallMessage)
    {
        if (window_)
            connector_.startReceiving();
    }
    ~Server()
    {
        stopReceiving();
        DestroyWindow(window_);
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Without its window, a call taken would be dropped: nothing is taken then.
    bool listening() const { return window_ != nullptr; }

    // Answers the calls in the order they came until the end.
    void run()
    {
        while (!ended()) {
            MSG msg;
            while (!ended() && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.hwnd != window_ || msg.message != kServeCallMessage) {
                    DispatchMessageW(&msg);
                } else if (connector_.holdsPosted(msg.wParam)) {
                    if (std::unique_ptr<CFlashLocalConnectionCall> call = connector_.takeOldestPosted())
                        answer(*call);
                }
            }
            if (!ended())
                MsgWaitForMultipleObjects(1, &stop_, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(timeLeft(), 1000)),
                                          QS_ALLINPUT);
        }
        // Calls taken out of the slot but never answered.
        stopReceiving();
        while (connector_.takeOldestPosted())
            ++left_;
    }

    void printSummary() const
    {
        const double served = static_cast<double>(GetTickCount64() - start_) / 1000.0;
        if (json_) {
            writeJson(Json{{"kind", "summary"},
                           {"seconds", served},
                           {"calls", calls_},
                           {"answers", answers_},
                           {"unsent", unsent_},
                           {"unanswered", left_}});
            return;
        }
        char summary[192];
        std::snprintf(summary, sizeof summary,
                      "served %.1f s: %llu calls, %llu answers, %llu not sent, %llu left unanswered", served, calls_,
                      answers_, unsent_, left_);
        writeLine(Stream::Out, summary);
    }

private:
    bool ended() const { return ending_ || WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0 || GetTickCount64() >= end_; }
    ULONGLONG timeLeft() const
    {
        const ULONGLONG now = GetTickCount64();
        return now < end_ ? end_ - now : 0;
    }
    void stopReceiving()
    {
        if (!connector_.stopReceiving(kStopWaitMs))
            ExitProcess(kExitNoAnswer); // the thread still uses the connector: end here
    }
    ULONGLONG now() const { return GetTickCount64() - start_; }

    void answer(const CFlashLocalConnectionCall& call)
    {
        ++calls_;
        if (json_)
            writeJson(Json{{"time", now()},
                           {"kind", "call"},
                           {"connection", kLauncherConnectionName},
                           {"method", call.getMethodName()},
                           {"args", argumentWords(call.getArguments())}});
        else
            writeLine(Stream::Out, "+" + std::to_string(now()) + " call " + lc::callText(call.getMethodName(), call));
        const auto& arguments = call.getArguments();
        // As the launcher: a call that names no reply connection is answered nothing.
        if (arguments.empty() || arguments.front()->getType() != kAmfString)
            return;
        const std::string replyName = arguments.front()->toString();
        const ServeRule* rule = script_.match(call);
        static const ServeAnswer kUnknownMethod{kUnknownMethodAnswer, {}};
        const ServeAnswer* answer = rule ? (rule->answer ? &*rule->answer : nullptr) : &kUnknownMethod;
        if (rule && rule->delayMs > 0) {
            // The receive thread goes on taking calls meanwhile; the window's thread serves
            // all but them, so that they are answered after this one, in order.
            const DWORD delay = static_cast<DWORD>(std::min<ULONGLONG>(rule->delayMs, timeLeft()));
            if (connector_.windowThreadWait().forOne(stop_, delay) != WAIT_TIMEOUT || timeLeft() == 0)
                return;
        }
        if (answer)
            send(replyName, *answer);
        ending_ = rule && rule->end;
    }

    void send(const std::string& replyName, const ServeAnswer& answer)
    {
        const std::unique_ptr<CFlashLocalConnectionCall> record = ServeScript::answerRecord(answer);
        SendOptions options;
        options.listener = &connector_; // a call for us in the slot must not hold our answer
        options.giveUp = stop_;
        const bool sent =
            CFlashLocalConnection(replyName.c_str(), nullptr, 0).send(answer.method.c_str(), record.get(), options);
        ++(sent ? answers_ : unsent_);
        if (json_) {
            Json words = Json::array();
            for (const std::string& word : answer.words)
                words.push_back(word);
            writeJson(Json{{"time", now()},
                           {"kind", "answer"},
                           {"sent", sent},
                           {"connection", replyName},
                           {"method", answer.method},
                           {"args", words}});
            return;
        }
        // The values as the game holds them once received.
        const auto received = ServeScript::answerRecord(answer, ValueOrder::AsTyped);
        writeLine(Stream::Out, "+" + std::to_string(now()) + (sent ? " answer to " : " answer not sent to ") +
                                   replyName + ": " + lc::callText(answer.method, *received));
    }

    ServeScript& script_;
    bool json_;
    HANDLE stop_;
    ULONGLONG end_;
    ULONGLONG start_;
    bool ending_ = false;
    unsigned long long calls_ = 0;
    unsigned long long answers_ = 0;
    unsigned long long unsent_ = 0;
    unsigned long long left_ = 0;
    HWND window_;
    CFlashLocalConnection connector_;
};

} // namespace

Outcome serve(const std::vector<std::string>& arguments)
{
    unsigned long seconds = 0;
    bool json = false;
    bool check = false;
    bool defaults = false;
    std::string path;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (word == "--json") {
            json = true;
        } else if (word == "--check") {
            check = true;
        } else if (word == "--seconds" && i + 1 < arguments.size()) {
            if (!parseCount(arguments[++i], kMaxSeconds, seconds))
                return failure(kExitBadArguments, "--seconds takes a whole number of seconds from 1 to 604800");
        } else if (word == "--defaults" && i + 1 < arguments.size()) {
            if (arguments[++i] != "launcher")
                return failure(kExitBadArguments, "--defaults takes only launcher");
            defaults = true;
        } else if (word.rfind("--", 0) == 0 || !path.empty()) {
            return failure(kExitBadArguments, "unknown option " + word + " (see tovin-lc serve --help)");
        } else {
            path = word;
        }
    }
    if (path.empty())
        return failure(kExitBadArguments, "serve needs a SCRIPT (see tovin-lc serve --help)");

    std::string text;
    if (!readScript(path, text))
        return failure(kExitBadArguments, path + ": cannot be read");
    ServeScript script;
    std::string error;
    if (!script.read(text, error))
        return failure(kExitBadArguments, path + ": " + error);
    if (defaults)
        script.addLauncherDefaults();
    const std::size_t rules = script.rules().size();
    const std::string ruleCount = std::to_string(rules) + (rules == 1 ? " rule" : " rules");
    if (check) {
        writeLine(Stream::Out, path + ": " + ruleCount + ", no error");
        return {0, ""};
    }

    if (FindWindowA(kWindowClassName, nullptr))
        return failure(kExitNoAnswer, std::string("a launcher is already taking calls on ") + kLauncherConnectionName +
                                          "; serve does not share the name (end the launcher first)");
    const UniqueHandle running(CreateMutexW(nullptr, FALSE, kServeMutexName));
    if (!running || GetLastError() == ERROR_ALREADY_EXISTS)
        return failure(kExitNoAnswer,
                       std::string("another tovin-lc serve is already taking calls on ") + kLauncherConnectionName);

    UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_serveStop = stop.get();
    SetConsoleCtrlHandler(stopServing, TRUE);
    {
        Server server(script, json, stop.get(), seconds ? GetTickCount64() + seconds * 1000ULL : ~0ULL);
        if (!server.listening()) {
            SetConsoleCtrlHandler(stopServing, FALSE);
            return failure(kExitNoAnswer, "the window that takes the calls could not be made");
        }
        writeLine(Stream::Err, std::string("tovin-lc: serving ") + kLauncherConnectionName + " with " + ruleCount);
        server.run();
        server.printSummary();
    }
    SetConsoleCtrlHandler(stopServing, FALSE);
    return {0, ""};
}
