// Names beyond the code page, run once per ANSI code page (1252, 1251 and 932: see
// tests/CMakeLists.txt): the launcher started from a game folder whose name no code page
// holds, downloading into such names, answering in French, showing its count box, opening
// both dialogs, writing a crash report into such a folder; and, in this process, text that
// is not UTF-8 and a destination longer than MAX_PATH.
#include "resources/FilledText.h"
#include "resources/Texts.h"
#include "services/LauncherServices.h"
#include "support/BoxWatcher.h"
#include "support/LauncherFixture.h"
#include "support/Wait.h"
#include "win/WidePath.h"
#include "win/WideText.h"

#include "FlashPlayerPeer.h"

#include <gtest/gtest.h>

#include <dlgs.h>

#include <algorithm>
#include <cstdlib>

namespace {

std::string utf8(std::u8string_view text)
{
    return std::string(text.begin(), text.end());
}

// Each name holds letters that at least two of the three code pages lack.
const std::string kGameFolder = utf8(u8"Игра ゲーム");
const std::string kRussian = utf8(u8"Загрузка.bin");
const std::string kJapanese = utf8(u8"ダウンロード.bin");
const std::string kFrench = utf8(u8"été.bin");
constexpr char kReply[] = "tovin.game.reply";

std::string url(const std::string& route)
{
    const char* port = std::getenv("TOVIN_HTTP_PORT");
    return "http://127.0.0.1:" + std::string(port ? port : "0") + route;
}

std::string expectedBody(std::size_t n)
{
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 7) % 251);
    return bytes;
}

void makeFolder(const std::string& path)
{
    ASSERT_TRUE(CreateDirectoryW(win::widePath(path).c_str(), nullptr)) << path;
}

class Text : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* expected = std::getenv("TOVIN_EXPECT_ACP");
        ASSERT_NE(expected, nullptr) << "run once per code page, as tests/CMakeLists.txt does";
        ASSERT_EQ(GetACP(), std::strtoul(expected, nullptr, 10)) << "the locale did not reach Wine";
        makeFolder(game());
        makeFolder(game() + "\\dl");
        dir_.copyFromBuild("TovinLauncher.exe", kGameFolder + "\\TovinLauncher.exe");
        dir_.copyFromBuild("tovin.dll", kGameFolder + "\\tovin.dll");
    }

    // The game is ended, should a test have left it running: a game left waiting for an
    // answer would take the next test's.
    void TearDown() override
    {
        const std::string pidLine = waitForLine(transcript(), "pid ", 0);
        if (!pidLine.empty())
            terminateProcessId(static_cast<DWORD>(std::strtoul(pidLine.c_str() + 4, nullptr, 10)));
    }

    std::string game() const { return dir_.file(kGameFolder); }
    std::string transcript() const { return game() + "\\transcript.txt"; }

    std::unique_ptr<ChildProcess> start(const std::string& scenario,
                                        std::map<std::string, std::string> environment = {})
    {
        environment["TOVIN_SCENARIO"] = "pid; wait-title 30000; flash; " + scenario;
        environment["TOVIN_WINDOWS"] = "1";
        environment["TOVIN_TRANSCRIPT"] = transcript();
        auto launcher = std::make_unique<ChildProcess>(game() + "\\TovinLauncher.exe", "", game(), environment);
        EXPECT_TRUE(launcher->started());
        return launcher;
    }

    std::vector<std::string> answers() const
    {
        std::vector<std::string> found;
        for (const auto& line : readLines(transcript()))
            if (line.rfind("answer ", 0) == 0 || line == "no answer")
                found.push_back(line);
        return found;
    }

    static std::string answer(const std::string& method, const std::string& arguments = "")
    {
        return "answer tovin.game.reply " + method + "(" + arguments + ") from localhost";
    }

    TempDir dir_;
};

// From a game folder no code page holds, with a temporary folder likewise: every name is
// made exactly, the French texts and an echoed name reach the game in UTF-8, a URL goes
// out percent-encoded, and the count box shows its French text.
TEST_F(Text, DownloadsAnswersAndTheCountBoxKeepEveryName)
{
    const std::string temporary = dir_.file(utf8(u8"Временные 一時"));
    makeFolder(temporary);
    const char* sealed = std::getenv("TOVIN_SEALED_DIR");
    const std::string throughTemporary = sealed ? std::string(sealed) + "\\x.bin" : "";
    const std::string missing = utf8(u8"nope\\Сохр.bin");
    std::string scenario;
    for (const std::string& name : {kRussian, kJapanese, kFrench})
        scenario += "call HttpDownload " + quoted(url("/body/64")) + " " + quoted("dl\\" + name) + "; answer 60000; ";
    scenario += "call HttpDownload " + quoted(url("/404")) + " \"dl\\\\x.bin\"; answer 60000; ";
    scenario += "call HttpDownload " + quoted(url("/body/64")) + " " + quoted(missing) + "; answer 60000; ";
    scenario +=
        "call HttpDownload " + quoted(url(utf8(u8"/unknown/Загрузка-été?q=ダ"))) + " \"dl\\\\y.bin\"; answer 60000; ";
    if (sealed)
        scenario +=
            "call HttpDownload " + quoted(url("/body/100")) + " " + quoted(throughTemporary) + "; answer 60000; ";
    scenario += "call HttpDownload " + quoted(url("/body/64")) + "; no-answer 2000; exit 0";
    auto launcher = start(scenario, {{"TEMP", temporary}, {"TMP", temporary}});
    BoxWatcher boxes(launcher->id());
    ASSERT_TRUE(launcher->waitForExit(180000));

    const std::string complete = answer("onHttpDownloadComplete");
    std::vector<std::string> expected(3, complete);
    expected.push_back(
        answer("onHttpDownloadError", "String : " + std::string(texts::kHttpStatusNot200) + ", Number : 404.000000"));
    expected.push_back(answer("onHttpDownloadError",
                              "String : " + std::string(texts::kCannotCreateDestination) + ", String : " + missing));
    expected.push_back(
        answer("onHttpDownloadError", "String : " + std::string(texts::kHttpStatusNot200) + ", Number : 400.000000"));
    if (sealed)
        expected.push_back(complete);
    expected.push_back("no answer");
    EXPECT_EQ(answers(), expected);

    std::vector<std::string> made = filesMatching(game() + "\\dl\\*.bin");
    std::sort(made.begin(), made.end());
    std::vector<std::string> names{kRussian, kJapanese, kFrench};
    std::sort(names.begin(), names.end());
    EXPECT_EQ(made, names) << "each file exactly under its name, and no other";
    for (const std::string& name : names)
        EXPECT_TRUE(readFile(game() + "\\dl\\" + name) == expectedBody(64)) << name;
    if (sealed) {
        EXPECT_TRUE(readFile(throughTemporary) == expectedBody(100));
        EXPECT_EQ(filesMatching(temporary + "\\tvn*.tmp"), std::vector<std::string>{});
    }

    const char* log = std::getenv("TOVIN_HTTP_LOG");
    ASSERT_NE(log, nullptr);
    const std::vector<std::string> requests = readLines(log);
    EXPECT_NE(std::find(requests.begin(), requests.end(),
                        "/unknown/%D0%97%D0%B0%D0%B3%D1%80%D1%83%D0%B7%D0%BA%D0%B0-%C3%A9t%C3%A9?q=%E3%83%80"),
              requests.end())
        << "as a browser sends it";

    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, texts::kCountCaption);
    EXPECT_EQ(boxes.boxes()[0].text, filledText(texts::kCountIncorrect, 1));
}

constexpr int kFileTypes = cmb1;
constexpr int kFileName = cmb13; // with its edit field

HWND nameField(HWND dialog)
{
    for (HWND child : childWindows(dialog))
        if (GetDlgCtrlID(child) == kFileName && windowClass(child) == "Edit")
            return child;
    return nullptr;
}

HWND waitForDialog(const ChildProcess& launcher, HWND previous)
{
    HWND found = nullptr;
    waitUntil(
        [&] {
            for (HWND dialog : topLevelDialogs(launcher.id()))
                if (dialog != previous && GetDlgItem(dialog, kFileTypes) && nameField(dialog))
                    found = dialog;
            return found != nullptr;
        },
        kLongWait);
    if (found)
        WaitForInputIdle(launcher.handle(), kLongWait); // the dialog has filled its controls
    return found;
}

void choose(HWND dialog, const std::string& name)
{
    SendMessageW(nameField(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(win::widen(name).c_str()));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

// Both dialogs, from the game folder, in its "dl" folder given as relative: the initial
// name and the file type as the game sent them, a file chosen and a name typed, each
// answered as its full path. Letters typed while a download under the open dialog serves
// its messages stay whole (the dialog has made "dl" the current folder by then: the
// download's destination is given in full).
TEST_F(Text, BothDialogsTakeAndGiveEveryName)
{
    const std::string chosen = utf8(u8"Сохр.txt");
    const std::string typed = utf8(u8"セーブ.sav");
    writeFile(game() + "\\dl\\" + chosen, "saved");
    auto launcher = start(utf8(u8"call BrowseFile \"dl\" \"été.txt\" {\"0\": \"Сохранения\", \"1\": \"*.txt\"}; ") +
                          "call HttpDownload " + quoted(url("/slow/1000/4")) + " " + quoted(game() + "\\dl\\s.bin") +
                          "; answer 60000; " + "answer 60000; call BrowseFileToSave \"dl\" \"\"; answer 60000; exit 0");
    HWND open = waitForDialog(*launcher, nullptr);
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(windowText(nameField(open)), utf8(u8"été.txt"));
    wchar_t type[64] = {};
    SendMessageW(GetDlgItem(open, kFileTypes), CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(type));
    EXPECT_EQ(win::narrow(type), utf8(u8"Сохранения"));

    ASSERT_TRUE(waitUntil([&] { return !filesMatching(game() + "\\dl\\tvn*.tmp").empty(); }, kLongWait))
        << "the download under the dialog is under way";
    SendMessageW(nameField(open), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    for (const wchar_t letter : std::wstring(L"\u0416\u30B2"))
        PostMessageW(nameField(open), WM_CHAR, letter, 0);
    EXPECT_FALSE(waitForLine(transcript(), "answer ", kLongWait).empty());
    EXPECT_EQ(windowText(nameField(open)), utf8(u8"Жゲ"));

    choose(open, chosen);
    HWND save = waitForDialog(*launcher, open);
    ASSERT_NE(save, nullptr);
    choose(save, typed);
    ASSERT_TRUE(launcher->waitForExit(60000));
    EXPECT_EQ(answers(), (std::vector<std::string>{
                             answer("onHttpDownloadComplete"),
                             answer("onBrowseFileSelect", "Array : {String : " + game() + "\\dl\\" + chosen + "}"),
                             answer("onBrowseFileToSaveSelect", "String : " + game() + "\\dl\\" + typed)}));
}

// The crash reports' folder under a user profile no code page holds.
TEST_F(Text, ACrashReportIsWrittenUnderAProfileOfAnyName)
{
    const std::string profile = dir_.file(utf8(u8"Données Данные データ"));
    makeFolder(profile);
    auto launcher = start("table; sleep 120000", {{"LOCALAPPDATA", profile}});
    ASSERT_FALSE(waitForLine(transcript(), "table ", 120000).empty()) << "the launcher is listening";
    {
        const UniqueHandle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, launcher->id()));
        ASSERT_TRUE(process);
        const UniqueHandle thread(CreateRemoteThread(
            process.get(), nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(0x10), nullptr, 0, nullptr));
        ASSERT_TRUE(thread);
    }
    ASSERT_TRUE(launcher->waitForExit(90000));
    EXPECT_EQ(filesMatching(profile + "\\TovinLauncher\\CrashReports\\TovinLauncher-*.dmp").size(), 1u);
}

// In this process, the test playing the Flash Player: the handler as the game's bytes reach it.
class TextInProcess : public Text {
protected:
    void SetUp() override
    {
        Text::SetUp();
        peer_.registerName(kReply);
    }
    void TearDown() override {}

    std::unique_ptr<CFlashLocalConnectionCall> download(const std::string& destination)
    {
        auto call = std::make_unique<CFlashLocalConnectionCall>("HttpDownload");
        for (const std::string& text : {std::string(kReply), url("/body/64"), destination})
            call->addArgument(std::make_unique<CFlashAMFString>(text), false);
        services_.HttpDownload(call.get(), kReply, nullptr);
        ReceivedMessage answer;
        EXPECT_TRUE(peer_.receive(kReply, 5000, answer));
        return std::move(answer.call);
    }

    FlashPlayerPeer peer_;
    CLauncherServices services_;
};

// Not UTF-8: Windows gets one U+FFFD an ill-formed part, the answer the bytes as they came.
TEST_F(TextInProcess, TextThatIsNotUtf8IsReplacedForWindowsAndEchoedAsItCame)
{
    const std::string missing = dir_.file("nope\\a\xFF\xC3.bin");
    auto answer = download(missing);
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->getArguments().size(), 2u);
    EXPECT_EQ(answer->getArguments().back()->toString(), missing);

    answer = download(dir_.file("a\xFF"
                                "b.bin"));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->getMethodName(), "onHttpDownloadComplete");
    EXPECT_TRUE(readFile(dir_.file(utf8(u8"a\uFFFDb.bin"))) == expectedBody(64));
}

// The name maker's folders, for the test below.
std::size_t g_longestFolder = 0;

UINT WINAPI recordingNameMaker(LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name)
{
    g_longestFolder = std::max(g_longestFolder, std::wcslen(folder));
    return GetTempFileNameW(folder, prefix, unique, name);
}

// A destination longer than MAX_PATH is made under exactly its name, its partial file in
// the temporary folder: GetTempFileNameW is never given a folder longer than it takes.
TEST_F(TextInProcess, ADestinationLongerThanMaxPathIsMadeUnderItsName)
{
    std::string folder = game();
    for (int i = 0; i < 3; ++i) {
        folder += "\\" + utf8(u8"Сохранения_") + std::string(90, 'x');
        makeFolder(folder);
    }
    const std::string destination = folder + "\\" + kFrench;
    ASSERT_GT(win::widen(destination).size(), static_cast<std::size_t>(MAX_PATH));
    CLauncherServices::DownloadTimings timings;
    timings.nameMaker = recordingNameMaker;
    services_.setDownloadTimings(timings);
    const auto answer = download(destination);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->getMethodName(), "onHttpDownloadComplete");
    EXPECT_TRUE(readFile(destination) == expectedBody(64));
    EXPECT_LE(g_longestFolder, static_cast<std::size_t>(MAX_PATH - 14));
    EXPECT_EQ(filesMatching(folder + "\\tvn*.tmp"), std::vector<std::string>{});

    // Windows' plain file calls stop at MAX_PATH (Wine's do not): a long name goes in the
    // \\?\ form of its full path, a short one as it came.
    const std::wstring wide = win::widen(destination);
    EXPECT_EQ(win::widePath(destination), L"\\\\?\\" + wide);
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    SetCurrentDirectoryW(win::widen(game()).c_str());
    EXPECT_EQ(win::widePath(destination.substr(game().size() + 1)), L"\\\\?\\" + wide) << "a relative name";
    EXPECT_EQ(win::widePath("dl\\" + kFrench), win::widen("dl\\" + kFrench));
    EXPECT_EQ(win::widePath("\\\\server\\share\\" + std::string(300, 'x')),
              L"\\\\?\\UNC\\server\\share\\" + std::wstring(300, L'x'));
    SetCurrentDirectoryW(current);
}

} // namespace
