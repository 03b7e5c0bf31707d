// tovin-lc against the real launcher and the stand-in game, its output read from files
// and pipes.
#include "resources/FilledText.h"
#include "resources/Texts.h"
#include "support/BoxWatcher.h"
#include "support/LauncherFixture.h"
#include "support/Wait.h"
#include "win/WideText.h"

#include "DebugOutput.h"
#include "ServeScript.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <thread>

namespace {

const std::string kNot200 = texts::kHttpStatusNot200;
// Names that no ANSI code page holds all of: Cyrillic, Japanese, and the game's French.
const std::string kNoCodePageReply = "\xD0\xBE\xD1\x82\xD0\xB2\xD0\xB5\xD1\x82.\xE8\xBF\x94\xE4\xBA\x8B"; // ответ.返事
const std::string kDownloadName =
    "\xD0\x97\xD0\xB0\xD0\xB3\xD1\x80\xD1\x83\xD0\xB7\xD0\xBA\xD0\xB0.bin"; // Загрузка.bin
const std::string kFrenchReply = "r\xC3\xA9ponse.\xC3\xA9";                 // réponse.é
const std::string kJapanese =
    "\xE3\x83\x80\xE3\x82\xA6\xE3\x83\xB3\xE3\x83\xAD\xE3\x83\xBC\xE3\x83\x89"; // ダウンロード

// A text in each of three ANSI code pages, and in UTF-8.
struct AnsiText {
    UINT codePage;
    const char* ansi;
    const char* utf8;
};
constexpr AnsiText kAnsiTexts[] = {
    {1252, "\xE9t\xE9", "\xC3\xA9t\xC3\xA9"}, // été
    {1251, "\xC7\xE0\xE3\xF0\xF3\xE7\xEA\xE0",
     "\xD0\x97\xD0\xB0\xD0\xB3\xD1\x80\xD1\x83\xD0\xB7\xD0\xBA\xD0\xB0"}, // Загрузка
    {932, "\x83\x5F\x83\x45\x83\x93\x83\x8D\x81\x5B\x83\x68",
     "\xE3\x83\x80\xE3\x82\xA6\xE3\x83\xB3\xE3\x83\xAD\xE3\x83\xBC\xE3\x83\x89"}, // ダウンロード
};

constexpr char kLauncherName[] = "__qel.external.connector__";
constexpr int kFileTypes = 0x470; // cmb1

using Json = nlohmann::ordered_json;

// The JSON objects of a run's output, one a line.
std::vector<Json> jsonLines(const std::vector<std::string>& lines)
{
    std::vector<Json> objects;
    for (const std::string& line : lines)
        objects.push_back(Json::parse(line, nullptr, false));
    return objects;
}

struct ToolRun {
    DWORD exitCode = 99;
    std::vector<std::string> out;
    std::string err;
    std::string bytes; // standard output as it came, when it was a pipe
};

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find("\r\n", start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// A program whose standard output is a pipe that the test reads.
struct PipedProcess {
    UniqueHandle process;
    UniqueHandle output;
};

class TovinLc : public LauncherFixture {
protected:
    void SetUp() override
    {
        LauncherFixture::SetUp();
        dir_.copyFromBuild("tovin-lc.exe");
    }

    void TearDown() override
    {
        if (!launcher_)
            return;
        writeFile(dir_.file("done"), "");
        EXPECT_TRUE(launcher_->waitForExit(kLongWait));
    }

    // The launcher and the game, talking already (so the launcher's name is in the table);
    // the game holds on until the test writes the file "done".
    void startSession(const std::string& scenario = "")
    {
        installGame();
        launcher_ = startLauncher("wait-title 30000; flash; call Foo; answer; " + scenario + "; wait-file " +
                                  dir_.file("done") + " 120000; exit 0");
        ASSERT_NE(waitForLine(transcript(), "answer ", 60000), "") << "the launcher never answered";
    }

    // Started with a wide command line, so that the arguments reach it whole whatever the
    // code page; its errors go to the file NAME.err.
    PipedProcess startPiped(const std::string& arguments, const std::string& name, DWORD pipeSize = 0)
    {
        SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        PipedProcess piped;
        EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherited, pipeSize));
        piped.output.reset(readEnd);
        const UniqueHandle input(writeEnd);
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        const UniqueFileHandle errors(CreateFileW(win::widen(dir_.file(name + ".err")).c_str(), GENERIC_WRITE,
                                                  FILE_SHARE_READ, &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                  nullptr));
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = errors.get();
        PROCESS_INFORMATION info = {};
        std::wstring command = win::widen("\"" + dir_.file("tovin-lc.exe") + "\" " + arguments);
        const std::wstring folder = win::widen(dir_.path());
        EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(),
                                   &startup, &info));
        piped.process.reset(info.hProcess);
        CloseHandle(info.hThread);
        return piped;
    }

    // Reads the pipe to its end while the program runs, at most `timeoutMs`.
    ToolRun finishPiped(PipedProcess& piped, const std::string& name, DWORD timeoutMs = kLongWait)
    {
        ToolRun run;
        std::thread reader([&] {
            char buffer[65536];
            DWORD got = 0;
            while (ReadFile(piped.output.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
                run.bytes.append(buffer, got);
        });
        const bool ended = WaitForSingleObject(piped.process.get(), timeoutMs) == WAIT_OBJECT_0;
        EXPECT_TRUE(ended) << name << " did not end";
        if (!ended)
            TerminateProcess(piped.process.get(), 99);
        reader.join();
        GetExitCodeProcess(piped.process.get(), &run.exitCode);
        run.out = splitLines(run.bytes);
        run.err = readFile(dir_.file(name + ".err"));
        return run;
    }

    ToolRun pipedTool(const std::string& arguments)
    {
        const std::string name = "run" + std::to_string(++runs_);
        PipedProcess piped = startPiped(arguments, name);
        return finishPiped(piped, name);
    }

    std::unique_ptr<ChildProcess> startTool(const std::string& arguments, const std::string& name)
    {
        auto tool = std::make_unique<ChildProcess>(dir_.file("tovin-lc.exe"), arguments, dir_.path(),
                                                   std::map<std::string, std::string>{}, dir_.file(name));
        EXPECT_TRUE(tool->started());
        return tool;
    }

    ToolRun finishTool(ChildProcess& tool, const std::string& name, DWORD timeoutMs = kLongWait)
    {
        ToolRun run;
        EXPECT_TRUE(tool.waitForExit(timeoutMs)) << name << " did not end";
        run.exitCode = tool.exitCode();
        run.out = readLines(dir_.file(name + ".out"));
        run.err = readFile(dir_.file(name + ".err"));
        return run;
    }

    ToolRun tool(const std::string& arguments)
    {
        const std::string name = "run" + std::to_string(++runs_);
        auto process = startTool(arguments, name);
        return finishTool(*process, name);
    }

    std::string url(const std::string& route) const
    {
        const char* port = std::getenv("TOVIN_HTTP_PORT");
        return "http://127.0.0.1:" + std::string(port ? port : "1") + route;
    }

    // The stand-in game on its own, talking to whoever takes calls on the launcher's name.
    std::unique_ptr<ChildProcess> startGame(const std::string& scenario) const
    {
        installGame();
        auto game = std::make_unique<ChildProcess>(
            dir_.file("tovin.dll"), "", dir_.path(),
            std::map<std::string, std::string>{
                {"TOVIN_SCENARIO", scenario}, {"TOVIN_WINDOWS", "1"}, {"TOVIN_TRANSCRIPT", transcript()}});
        EXPECT_TRUE(game->started());
        return game;
    }

    std::unique_ptr<ChildProcess> launcher_;
    int runs_ = 0;
};

TEST_F(TovinLc, TableListsTheLauncherAndTheGameAndSlotShowsFreeThenAHeldMessage)
{
    startSession("wait-file " + dir_.file("post") + " 120000; post nobody.home Hello 1.5 \"caf\\u00e9\" [true, null]");
    const ToolRun table = tool("table");
    EXPECT_EQ(table.exitCode, 0u) << table.err;
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), kLauncherName), 1);
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), "tovin.game.reply"), 1);

    const ToolRun free = tool("slot");
    EXPECT_EQ(free.exitCode, 0u);
    EXPECT_EQ(free.out, std::vector<std::string>{"free"});

    writeFile(dir_.file("post"), "");
    ASSERT_NE(waitForLine(transcript(), "posted Hello", kLongWait), "");
    const ToolRun held = tool("slot");
    EXPECT_EQ(held.exitCode, 0u);
    // The stand-in writes with the launcher's writer, which sends elements last to first.
    EXPECT_EQ(held.out, std::vector<std::string>{"to nobody.home from localhost: Hello(Number : 1.500000, "
                                                 "String : caf\xC3\xA9, Array : {null, Boolean : true})"});
    // Each argument as the word that call reads back into the same bytes.
    EXPECT_EQ(tool("slot --json").out,
              std::vector<std::string>{R"({"kind":"message","connection":"nobody.home","domain":"localhost",)"
                                       R"("method":"Hello","args":["1.5","caf)"
                                       "\xC3\xA9"
                                       R"(","[null,true]"]})"});
}

TEST_F(TovinLc, CallPrintsTheAnswerOrEndsWithCodeTwoWhenNobodyListens)
{
    startSession();
    const ToolRun unknown = tool(std::string("call ") + kLauncherName + " Foo 12 \"\"");
    EXPECT_EQ(unknown.exitCode, 0u) << unknown.err;
    EXPECT_EQ(unknown.out, std::vector<std::string>{"onUnknownMethod()"});
    EXPECT_EQ(unknown.err, "");

    const ULONGLONG start = GetTickCount64();
    const ToolRun nobody = tool("call nobody.listens.here Foo");
    EXPECT_LT(GetTickCount64() - start, 5000u);
    EXPECT_EQ(nobody.exitCode, 2u);
    EXPECT_TRUE(nobody.out.empty());
    EXPECT_NE(nobody.err.find("nobody listens on nobody.listens.here"), std::string::npos) << nobody.err;

    // Both calls went through the same reply name, entered once.
    const ToolRun table = tool("table");
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), "_tovin_lc"), 1);
}

TEST_F(TovinLc, HttpDownloadCompletesOrAnswersTheLaunchersErrorText)
{
    startSession();
    const std::string destination = dir_.file("got.bin");
    const ToolRun done =
        tool(std::string("call ") + kLauncherName + " HttpDownload " + url("/body/1000") + " " + destination);
    EXPECT_EQ(done.exitCode, 0u) << done.err;
    EXPECT_EQ(done.out, std::vector<std::string>{"onHttpDownloadComplete()"});
    EXPECT_EQ(readFile(destination).size(), 1000u);

    const ToolRun refused = tool(std::string("call --reply other.reply ") + kLauncherName +
                                 " HttpDownload http://127.0.0.1:1/x " + dir_.file("never.bin"));
    EXPECT_EQ(refused.exitCode, 0u) << refused.err;
    EXPECT_EQ(refused.out,
              std::vector<std::string>{"onHttpDownloadError(String : " + kNot200 + ", Number : 2.000000)"});
}

// Call and serve against each other, with the stand-in game as the Flash Player: every
// name and value goes out and comes back as its bytes, in text to a pipe and in JSON.
TEST_F(TovinLc, CallAndServeKeepEveryCharacterOfNamesNoCodePageHolds)
{
    const std::string path = "dl\\" + kDownloadName;
    const Json answer = {{"method", "on" + kJapanese},
                         {"args", Json::array({path, "{\"" + kJapanese + "\": \"\\u00e9\"}"})}};
    const Json script = Json::array({{{"method", kJapanese}, {"times", 1}, {"answer", answer}},
                                     {{"method", kJapanese}, {"then", "end"}, {"answer", answer}}});
    writeFile(dir_.file("names.json"), script.dump());
    auto game = startGame("flash; wait-file " + dir_.file("done") + " 120000; exit 0");
    ASSERT_NE(waitForLine(transcript(), "flash player ready", kLongWait), "");
    auto server = startTool("serve --json --seconds 100 names.json", "serve");
    ASSERT_TRUE(
        waitUntil([&] { return readFile(dir_.file("serve.err")).find("serving") != std::string::npos; }, kLongWait));

    const std::string call = "--reply " + kNoCodePageReply + " " + kLauncherName + " " + kJapanese + " " +
                             kDownloadName + " [\\\"" + kFrenchReply + "\\\"]";
    const ToolRun text = pipedTool("call " + call);
    EXPECT_EQ(text.exitCode, 0u) << text.err;
    EXPECT_EQ(text.bytes, "on" + kJapanese + "(String : dl\\" + kDownloadName + ", Array : {" + kJapanese +
                              " => String : \xC3\xA9})\r\n");
    const ToolRun table = pipedTool("table");
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), kNoCodePageReply), 1) << table.bytes;

    const ToolRun json = pipedTool("call --json " + call); // the second call ends the serve
    EXPECT_EQ(json.exitCode, 0u) << json.err;
    ASSERT_EQ(json.out.size(), 1u) << json.bytes;
    Json got = Json::parse(json.out[0], nullptr, false);
    ASSERT_TRUE(got.is_object()) << json.out[0];
    EXPECT_TRUE(got["time"].is_number_unsigned());
    got.erase("time");
    EXPECT_EQ(got, Json({{"kind", "answer"},
                         {"connection", kNoCodePageReply},
                         {"method", "on" + kJapanese},
                         {"args", Json::array({path, "{\"" + kJapanese + "\":\"\xC3\xA9\"}"})}}));

    // What serve read off the wire: both calls, each name and value as sent.
    const ToolRun served = finishTool(*server, "serve");
    EXPECT_EQ(served.exitCode, 0u) << served.err;
    const Json sent = Json::array({kNoCodePageReply, kDownloadName, "[\"" + kFrenchReply + "\"]"});
    std::size_t calls = 0;
    for (const Json& line : jsonLines(served.out)) {
        if (line.is_object() && line["kind"] == "call") {
            ++calls;
            EXPECT_EQ(line["method"], kJapanese);
            EXPECT_EQ(line["args"], sent) << line.dump();
        }
    }
    EXPECT_EQ(calls, 2u);
    writeFile(dir_.file("done"), "");
    EXPECT_TRUE(game->waitForExit(kLongWait));
}

TEST_F(TovinLc, BrowseFileOpensTheDialogWithTheOneJsonFilterType)
{
    startSession();
    auto call = startTool(std::string("call ") + kLauncherName + " BrowseFile C:\\ \"\" " +
                              "\"{\\\"0\\\":\\\"Images\\\",\\\"1\\\":\\\"*.png\\\"}\"",
                          "browse");
    HWND dialog = nullptr;
    const ULONGLONG deadline = GetTickCount64() + kLongWait;
    while (!dialog && GetTickCount64() < deadline) {
        for (HWND candidate : topLevelDialogs(launcher_->id()))
            if (GetDlgItem(candidate, kFileTypes))
                dialog = candidate;
        Sleep(50);
    }
    ASSERT_NE(dialog, nullptr) << "no file dialog appeared";
    Sleep(300); // let it fill its controls
    HWND types = GetDlgItem(dialog, kFileTypes);
    ASSERT_EQ(SendMessageA(types, CB_GETCOUNT, 0, 0), 1);
    wchar_t text[64] = {};
    SendMessageW(types, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::wstring(text), L"Images");
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    const ToolRun run = finishTool(*call, "browse");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(run.out, std::vector<std::string>{"onBrowseFileCancel()"});
}

// Ends once the trace listens: its events exist then.
bool waitForTraceListening(DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (HANDLE ready = OpenEventA(SYNCHRONIZE, FALSE, "DBWIN_DATA_READY")) {
            CloseHandle(ready);
            return true;
        }
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(50);
    }
}

TEST_F(TovinLc, WatchDuringACallPrintsTheCallAndItsAnswer)
{
    startSession();
    auto trace = startTool("trace --seconds 40", "trace");
    ASSERT_TRUE(waitForTraceListening(kLongWait));
    const ULONGLONG traceStarted = GetTickCount64();
    auto watch = startTool("watch --seconds 12", "watch");
    const std::string bar = "Bar(String : " + kFrenchReply +
                            ", Array : {Number : 1.000000, Number : 2.000000}, String : " + kDownloadName + ")";
    const std::string call = std::string(" to ") + kLauncherName + " from localhost: " + bar;
    const std::string answer = " to " + kFrenchReply + " from localhost: onUnknownMethod()";
    const auto seen = [&](const std::string& text) {
        const auto lines = readLines(dir_.file("watch.out"));
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.find(text) != std::string::npos; });
    };
    // The watcher takes one pass every receive pause like the launcher, so it sees a message only
    // when its pass comes before the addressee's: a few calls make both sure.
    int calls = 0;
    // (All within the trace's time, so that it can see every one.)
    for (; calls < 12 && !(seen(call) && seen(answer)) && GetTickCount64() - traceStarted < 25000; ++calls) {
        const ToolRun run =
            pipedTool("call --reply " + kFrenchReply + " " + kLauncherName + " Bar [1,2] " + kDownloadName);
        EXPECT_EQ(run.exitCode, 0u) << run.err;
        EXPECT_EQ(run.bytes, "onUnknownMethod()\r\n");
    }
    const ToolRun run = finishTool(*watch, "watch", 20000);
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(seen(call)) << readFile(dir_.file("watch.out"));
    EXPECT_TRUE(seen(answer)) << readFile(dir_.file("watch.out"));
    ASSERT_FALSE(run.out.empty());
    EXPECT_EQ(run.out.front()[0], '+');
    EXPECT_EQ(run.out.back().rfind("watched ", 0), 0u) << run.out.back();
    EXPECT_NE(run.out.back().find(" passes"), std::string::npos);

    // The trace beside it saw every one of those calls and answers.
    const ToolRun traced = finishTool(*trace, "trace", 60000);
    EXPECT_EQ(traced.exitCode, 0u) << traced.err;
    const std::string pid = " pid " + std::to_string(launcher_->id()) + ": tovin: ";
    const auto count = [&](const std::string& text) {
        return std::count_if(traced.out.begin(), traced.out.end(), [&](const std::string& line) {
            return line[0] == '+' && line.find(pid + text) != std::string::npos;
        });
    };
    EXPECT_EQ(count("call " + bar), calls);
    EXPECT_EQ(count("answer to " + kFrenchReply + ": onUnknownMethod()"), calls);
    ASSERT_FALSE(traced.out.empty());
    const std::string& summary = traced.out.back();
    const std::string counts = " calls, " + std::to_string(calls) + " answers, 0 boxes";
    EXPECT_EQ(summary.rfind("traced ", 0), 0u) << summary;
    EXPECT_NE(summary.find(", " + std::to_string(calls) + counts), std::string::npos) << summary;
}

TEST_F(TovinLc, TraceNeverHoldsAWriterWhileItsOutputIsBlockedAndCountsTheLinesItDrops)
{
    // Its output is a pipe that nobody reads until the writes are over.
    PipedProcess trace = startPiped("trace --seconds 30", "trace", 4096);
    ASSERT_TRUE(waitForTraceListening(kLongWait));

    // Lines enough to fill the pipe and the queue, each as long as a line goes. A held
    // writer waits 10 s a line: the writes would outlast the trace many times over.
    const std::size_t count = DebugOutputRelay::kMaxQueuedLines + 200;
    const std::string filler(4000, 'x');
    std::atomic<bool> giveUp{false};
    std::atomic<std::size_t> written{0};
    std::thread writer([&] {
        for (; written < count && !giveUp; ++written)
            OutputDebugStringA((std::to_string(written) + " " + filler).c_str());
    });
    const ULONGLONG deadline = GetTickCount64() + 25000;
    while (written < count && GetTickCount64() < deadline)
        Sleep(50);
    EXPECT_EQ(written, count) << "the writer was held";
    giveUp = true;
    writer.join();

    const std::string output = finishPiped(trace, "trace").bytes;
    const std::string ours = " pid " + std::to_string(GetCurrentProcessId()) + ": ";
    std::size_t printed = 0;
    for (std::size_t at = output.find(ours); at != std::string::npos; at = output.find(ours, at + 1))
        ++printed;
    const std::size_t summary = output.rfind("traced ");
    ASSERT_NE(summary, std::string::npos) << readFile(dir_.file("trace.err"));
    const std::size_t droppedAt = output.find(" boxes, ", summary);
    ASSERT_NE(droppedAt, std::string::npos) << output.substr(summary);
    const std::size_t dropped = std::strtoul(output.c_str() + droppedAt + 8, nullptr, 10);
    EXPECT_GT(dropped, 0u) << output.substr(summary);
    EXPECT_EQ(printed + dropped, count) << output.substr(summary); // every line printed or counted
}

TEST_F(TovinLc, TraceJsonSeesEachCallAnswerAndBoxOfAConversationInOrder)
{
    // Calls with every kind of value, a count that shows the "Alert" box, a download that
    // fails, and an unknown method: the game goes on once the trace listens.
    startSession("wait-file " + dir_.file("go") + " 120000; call Foo 1.5 \"x y\" [true, NaN] {\"$date\": 0} -0.0; " +
                 "answer 30000; call ScreenResolutionEnable 800; no-answer 1500; call HttpDownload " +
                 "http://127.0.0.1:1/x " + dir_.file("never.bin") + "; answer 30000; call Qux; answer 30000");
    BoxWatcher boxes(launcher_->id());
    auto trace = startTool("trace --json --seconds 45", "trace");
    ASSERT_TRUE(waitForTraceListening(kLongWait));
    const ToolRun second = tool("trace --seconds 1");
    EXPECT_EQ(second.exitCode, 2u);
    EXPECT_NE(second.err.find("reads the debug output already"), std::string::npos) << second.err;
    writeFile(dir_.file("go"), "");
    // The session's first answer, then the conversation's three.
    const ULONGLONG deadline = GetTickCount64() + 40000;
    while (linesStartingWith("answer ").size() < 4 && GetTickCount64() < deadline)
        Sleep(200);
    EXPECT_EQ(linesStartingWith("answer ").size(), 4u) << readFile(transcript());
    // A download into a name no code page holds, answered on another such name; and a line
    // of another program, written in the ANSI code page.
    const std::string destination = dir_.file(kDownloadName);
    const ToolRun download = pipedTool("call --reply " + kNoCodePageReply + " " + kLauncherName +
                                       " HttpDownload http://127.0.0.1:1/x " + destination);
    EXPECT_EQ(download.exitCode, 0u) << download.err;
    const auto other = std::find_if(std::begin(kAnsiTexts), std::end(kAnsiTexts),
                                    [](const AnsiText& text) { return text.codePage == GetACP(); });
    if (other != std::end(kAnsiTexts))
        OutputDebugStringA((std::string("another program: ") + other->ansi).c_str());

    const ToolRun run = finishTool(*trace, "trace", 60000);
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    std::vector<std::string> events; // the launcher's, as kind, connection, method and args
    std::vector<Json> boxLines;
    const std::vector<Json> lines = jsonLines(run.out);
    ASSERT_FALSE(lines.empty());
    std::vector<std::string> ours;
    for (const Json& line : lines) {
        ASSERT_TRUE(line.is_object());
        if (line["kind"] == "line" && line["pid"] == GetCurrentProcessId())
            ours.push_back(line["text"]);
        if (line["kind"] == "box")
            boxLines.push_back(line);
        else if ((line["kind"] == "call" || line["kind"] == "answer") && line["pid"] == launcher_->id())
            events.push_back(line["kind"].get<std::string>() + " " + line["connection"].get<std::string>() + " " +
                             line["method"].get<std::string>() + " " + line["args"].dump());
    }
    const std::string game = "tovin.game.reply";
    const std::vector<std::string> expected = {
        "call __qel.external.connector__ Foo " +
            Json::array({game, "1.5", "x y", "[NaN,true]", R"({"$date":0})", "-0.0"}).dump(),
        "answer " + game + " onUnknownMethod []",
        "call __qel.external.connector__ ScreenResolutionEnable " + Json::array({game, "800"}).dump(),
        "call __qel.external.connector__ HttpDownload " +
            Json::array({game, "http://127.0.0.1:1/x", dir_.file("never.bin")}).dump(),
        "answer " + game + " onHttpDownloadError " + Json::array({kNot200, "2"}).dump(),
        "call __qel.external.connector__ Qux " + Json::array({game}).dump(),
        "answer " + game + " onUnknownMethod []",
        "call __qel.external.connector__ HttpDownload " +
            Json::array({kNoCodePageReply, "http://127.0.0.1:1/x", destination}).dump(),
        "answer " + kNoCodePageReply + " onHttpDownloadError " + Json::array({kNot200, "2"}).dump(),
    };
    EXPECT_EQ(events, expected);
    if (other != std::end(kAnsiTexts))
        EXPECT_EQ(ours, std::vector<std::string>{std::string("another program: ") + other->utf8});
    else
        std::printf("(code page %u: no text of another program to try)\n", GetACP());
    ASSERT_EQ(boxLines.size(), 1u);
    EXPECT_EQ(boxLines[0]["caption"], texts::kCountCaption);
    EXPECT_EQ(boxLines[0]["text"], filledText(texts::kCountIncorrect, 1));
    EXPECT_EQ(boxes.boxes().size(), 1u);
    const Json& summary = lines.back();
    EXPECT_EQ(summary["kind"], "summary");
    EXPECT_EQ(summary["calls"], 5);
    EXPECT_EQ(summary["answers"], 4);
    EXPECT_EQ(summary["boxes"], 1);
    EXPECT_EQ(summary["lines"], lines.size() - 1);
}

TEST_F(TovinLc, ServeAnswersTheGameAsScriptedInCallOrderAndByteForByteAsTheLauncher)
{
    // Three answers of the launcher's own, their bodies as the game's Flash Player finds them.
    const std::string exchange = "call Foo 1; answer-bytes 30000; call HttpDownload " + url("/404") + " " +
                                 dir_.file("x.bin") + "; answer-bytes 30000; call HttpDownload " + url("/body/10") +
                                 " " + dir_.file("y.bin") + "; answer-bytes 30000; ";
    const auto bodies = [](const std::vector<std::string>& lines) {
        std::vector<std::string> found;
        std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
                     [](const std::string& line) { return line.rfind("bytes ", 0) == 0; });
        return found;
    };
    const std::vector<std::string> launcherBodies = bodies(converse(exchange + "exit 0"));
    ASSERT_EQ(launcherBodies.size(), 3u);
    DeleteFileA(transcript().c_str());

    // The same answers from the script, a delayed one, the launcher's defaults, and an end.
    const std::string slow = Json(dir_.file("slow.bin")).dump();
    writeFile(dir_.file("paths.json"), R"([
  {"method": "HttpDownload", "times": 1,
   "answer": {"method": "onHttpDownloadError", "args": ["Code de retour Http non \u00e9gal \u00e0 200", "404"]}},
  {"method": "HttpDownload", "args": ["*", "*", )" +
                                           slow + R"(], "delay_ms": 5000,
   "answer": {"method": "onHttpDownloadComplete"}},
  {"method": "HttpDownload", "answer": {"method": "onHttpDownloadComplete", "args": []}},
  {"method": "BrowseFile", "args": ["*", "*", "\"\"", "{\"1\": \"*.sav\", \"0\": \"Saves\"}"],
   "answer": {"method": "onBrowseFileSelect", "args": ["[\"C:\\\\a.sav\", \"C:\\\\b.sav\"]"]}},
  {"method": "Bye", "then": "end", "answer": {"method": "onBye", "args": ["caf\u00e9", "[1, true]", null]}}
])");
    auto server = startTool("serve --json --defaults launcher --seconds 200 paths.json", "serve");
    auto game = startGame("flash; " + exchange + "call HttpDownload http://nowhere/ " + dir_.file("slow.bin") +
                          "; call BrowseFile C:\\ \"\" {\"0\": \"Saves\", \"1\": \"*.sav\"}; "
                          "call ScreenResolutionEnable 800 600 32; call ScreenResolutionDisable; no-answer 1500; "
                          "answer 30000; answer 30000; answer 30000; no-answer 1500; call Bye; answer 30000; exit 0");
    ASSERT_TRUE(game->waitForExit(120000));
    const ToolRun run = finishTool(*server, "serve");
    EXPECT_EQ(run.exitCode, 0u) << run.err; // ended by the script, well before its 200 s

    const std::vector<std::string> lines = readLines(transcript());
    EXPECT_EQ(bodies(lines), launcherBodies);
    std::vector<std::string> answers;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(answers),
                 [](const std::string& line) { return line.rfind("answer ", 0) == 0 || line == "no answer"; });
    const std::string game_ = "answer tovin.game.reply ";
    const std::vector<std::string> expected = {
        game_ + "onUnknownMethod() from localhost",
        game_ + "onHttpDownloadError(String : " + texts::kHttpStatusNot200 + ", Number : 404.000000) from localhost",
        game_ + "onHttpDownloadComplete() from localhost",
        // Every call is written while the first waits its 5 s: none blocks the slot.
        "no answer",
        game_ + "onHttpDownloadComplete() from localhost",
        game_ + "onBrowseFileSelect(Array : {String : C:\\a.sav, String : C:\\b.sav}) from localhost",
        game_ + "onScreenResolutionSuccess() from localhost",
        "no answer",
        game_ + "onBye(String : caf\xC3\xA9, Array : {Number : 1.000000, Boolean : true}, null) from localhost",
    };
    EXPECT_EQ(answers, expected) << readFile(transcript());

    // What serve printed: each call and each answer, as trace --json would, and its counts.
    const std::vector<Json> printed = jsonLines(run.out);
    std::vector<std::string> answered;
    for (const Json& line : printed)
        if (line.is_object() && line["kind"] == "answer")
            answered.push_back(line["method"].get<std::string>() + " " + line["args"].dump());
    ASSERT_EQ(answered.size(), 7u);
    EXPECT_EQ(answered[4], R"(onBrowseFileSelect ["[\"C:\\\\a.sav\",\"C:\\\\b.sav\"]"])");
    EXPECT_EQ(answered[6], "onBye [\"caf\xC3\xA9\",\"[1,true]\",\"null\"]");
    ASSERT_FALSE(printed.empty());
    Json summary = printed.back();
    summary.erase("seconds");
    EXPECT_EQ(summary.dump(), R"({"kind":"summary","calls":8,"answers":7,"unsent":0,"unanswered":0})");
}

TEST_F(TovinLc, ServeChecksItsScriptFirstAndRefusesToShareTheNameWithTheLauncher)
{
    // The example of serve --help is a whole script.
    const ToolRun help = tool("serve --help");
    std::string example;
    for (const std::string& line : help.out) {
        const bool inScript = line.rfind("  [", 0) == 0 || (!example.empty() && line.rfind("   ", 0) == 0);
        if (!inScript && !example.empty())
            break;
        if (inScript)
            example += line.substr(2) + "\n";
    }
    writeFile(dir_.file("example.json"), example);
    const ToolRun checked = tool("serve --check --defaults launcher example.json");
    EXPECT_EQ(checked.exitCode, 0u) << checked.err << example;
    EXPECT_EQ(checked.out, std::vector<std::string>{"example.json: 8 rules, no error"});

    // A fault is one line, before anything else (no Flash Player is needed to hear it).
    writeFile(dir_.file("bad.json"), R"([{"method": "HttpDownload"}, {"method": "Foo", "times": "twice"}])");
    const ToolRun bad = tool("serve bad.json");
    EXPECT_EQ(bad.exitCode, 1u);
    EXPECT_EQ(bad.err, "tovin-lc: bad.json: rule 2, \"times\": takes a whole number from 1 to " +
                           std::to_string(ServeScript::kMaxTimes) + "\r\n");

    startSession();
    const ToolRun refused = tool("serve --seconds 5 example.json");
    EXPECT_EQ(refused.exitCode, 2u);
    EXPECT_NE(refused.err.find("a launcher is already taking calls on __qel.external.connector__"), std::string::npos)
        << refused.err;
}

TEST_F(TovinLc, WithoutAFlashPlayerEveryCommandEndsWithCodeThree)
{
    for (const char* arguments : {"table", "slot", "watch --seconds 1", "call __qel.external.connector__ Foo"}) {
        const ToolRun run = tool(arguments);
        EXPECT_EQ(run.exitCode, 3u) << arguments;
        EXPECT_NE(run.err.find("no Flash Player is running"), std::string::npos) << run.err;
    }
}

TEST_F(TovinLc, BadArgumentsEndWithCodeOneAndHelpDescribesEachCommand)
{
    const ToolRun bad = tool("call x Foo 1 \"[1, 2\"");
    EXPECT_EQ(bad.exitCode, 1u);
    EXPECT_NE(bad.err.find("VALUE 2 ([1, 2): bad JSON: unexpected end of input; expected ']' at character 6"),
              std::string::npos)
        << bad.err;
    for (const char* arguments :
         {"", "frobnicate", "call x", "watch --seconds 0", "call --timeout soon x Foo", "table extra"})
        EXPECT_EQ(tool(arguments).exitCode, 1u) << arguments;

    const ToolRun help = tool("--help");
    EXPECT_EQ(help.exitCode, 0u);
    for (const char* command : {"table", "slot", "watch", "trace", "call", "serve"}) {
        const ToolRun commandHelp = tool(std::string(command) + " --help");
        EXPECT_EQ(commandHelp.exitCode, 0u);
        ASSERT_FALSE(commandHelp.out.empty());
        EXPECT_EQ(commandHelp.out[0].rfind(std::string("tovin-lc ") + command, 0), 0u);
        const std::string text = readFile(dir_.file("run" + std::to_string(runs_) + ".out"));
        EXPECT_NE(text.find("Example"), std::string::npos);
        // One line end after the last line, and no blank line.
        EXPECT_TRUE(text.size() > 4 && text.substr(text.size() - 2) == "\r\n" &&
                    text.substr(text.size() - 4) != "\r\n\r\n")
            << command;
    }
}

} // namespace
