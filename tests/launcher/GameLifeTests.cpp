// The game's end, or the session's, ends the launcher, whatever it is doing, with the
// display mode put back, no queued call run and no file left half written; and the
// launcher answers the desktop's messages in every state. Runs in a Wine virtual desktop
// (so that the mode can change) beside the test HTTP server.
#include "launcher/Launcher.h"
#include "support/BoxWatcher.h"
#include "support/LauncherFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

namespace {

// The test's limits; the benchmarks measure the real figures against their targets.
constexpr DWORD kEndLimitMs = 5000;
constexpr UINT kAnswerLimitMs = 1000;

// Sends `message` as the desktop does, and gives its answer; nullopt when none came in
// time (the thread that owns the window was not taking messages).
std::optional<LRESULT> sendToWindow(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kAnswerLimitMs, &result))
        return std::nullopt;
    return static_cast<LRESULT>(result);
}

// Ends a process, if it still runs, when it goes out of scope.
struct EndsProcess {
    DWORD id;
    ~EndsProcess() { terminateProcessId(id); }
};

class GameLife : public LauncherFixture {
protected:
    void SetUp() override
    {
        LauncherFixture::SetUp();
        original_ = currentMode();
    }
    void TearDown() override
    {
        if (currentMode() != original_)
            ChangeDisplaySettingsA(nullptr, 0); // the other tests start from the usual mode
    }

    static std::string url(const std::string& route)
    {
        const char* port = std::getenv("TOVIN_HTTP_PORT");
        return "http://127.0.0.1:" + std::string(port ? port : "0") + route;
    }

    // Starts the game with the display switched to 800x600, then `work`; once the game
    // has printed its pid (after `work`) and `ready` says the work is under way, ends
    // the game and checks that the launcher follows it.
    void endGameDuring(const std::string& work, const std::function<bool(DWORD launcherId)>& ready)
    {
        installGame();
        auto launcher =
            startLauncher("wait-title 30000; flash; call ScreenResolutionEnable 800 600 32; answer; mode; " + work +
                          "; pid; sleep 120000");
        const std::string pidLine = waitForLine(transcript(), "pid ", 120000);
        ASSERT_FALSE(pidLine.empty()) << readFile(transcript());
        const auto game = static_cast<DWORD>(std::strtoul(pidLine.c_str() + 4, nullptr, 10));
        // However the test ends, the game ends with it: a game left running would keep its
        // Flash Player's section, table and all, for the tests that follow.
        const EndsProcess endGame{game};
        ASSERT_EQ(linesStartingWith("mode "), std::vector<std::string>{"mode 800x600x32"}) << readFile(transcript());
        ASSERT_TRUE(ready(launcher->id()));
        terminateProcessId(game);
        EXPECT_TRUE(launcher->waitForExit(kEndLimitMs)) << "the launcher outlived the game";
        EXPECT_EQ(currentMode(), original_) << "the mode must be put back";
    }

    // Polls `probe` until it gives something, for at most kLongWait.
    template <typename Probe>
    static auto waitFor(Probe probe)
    {
        const ULONGLONG deadline = GetTickCount64() + kLongWait;
        auto found = probe();
        while (found == decltype(found){} && GetTickCount64() < deadline) {
            Sleep(50);
            found = probe();
        }
        return found;
    }

    // The launcher's hidden window, once it exists.
    static HWND launcherWindow()
    {
        return waitFor([] { return FindWindowA(kWindowClassName, nullptr); });
    }

    std::vector<std::string> partialFiles() const { return filesMatching(dir_.file("tvn*.tmp")); }

    std::string original_;
};

// The download trickles; 60 calls wait behind it, one of which would switch the mode
// again. None of them runs, nothing is answered, and the destination keeps its content.
TEST_F(GameLife, EndsDuringADownloadWithCallsQueuedBehindIt)
{
    const std::string destination = dir_.file("kept.bin");
    writeFile(destination, "the old content");
    std::string queued = "call ScreenResolutionEnable 640 480 32";
    for (int i = 1; i < 60; ++i)
        queued += "; call Queued" + std::to_string(i);
    const auto partialFile = [this] {
        const auto names = partialFiles();
        return names.empty() ? std::string() : names[0];
    };
    endGameDuring("call HttpDownload " + quoted(url("/slow/100000/120")) + " " + quoted(destination) + "; " + queued,
                  [&](DWORD) { return !waitFor(partialFile).empty(); }); // the body is under way
    EXPECT_EQ(readFile(destination), "the old content");
    EXPECT_EQ(partialFile(), "") << "a temporary file was left";
}

// A folder that takes no new file gets the body through the system's temporary folder,
// copied over the destination at the end: a game that ends during that copy still leaves
// the destination whole, never part new and part old.
TEST_F(GameLife, EndsDuringTheCopyOverTheDestinationWhichEndsWhole)
{
    const char* sealed = std::getenv("TOVIN_SEALED_DIR");
    if (!sealed)
        GTEST_SKIP() << "the file system here cannot seal a folder";
    const std::string destination = std::string(sealed) + "\\x.bin";
    constexpr ULONGLONG kSize = 512u << 20; // a copy long enough to be caught under way
    const auto size = [&destination] {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(destination.c_str(), GetFileExInfoStandard, &data))
            return ULONGLONG{0};
        return (ULONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    };
    const ULONGLONG before = size();
    endGameDuring("call HttpDownload " + quoted(url("/fast/" + std::to_string(kSize))) + " " + quoted(destination),
                  [&](DWORD) {
                      const ULONGLONG deadline = GetTickCount64() + kLongWait;
                      while (size() == before && GetTickCount64() < deadline)
                          Sleep(1);
                      return size() != before && size() != kSize; // caught under way
                  });
    EXPECT_EQ(size(), kSize);
}

TEST_F(GameLife, EndsDuringAnOpenDialog)
{
    endGameDuring("call BrowseFile " + quoted(dir_.path()) + " \"\" null", [](DWORD launcherId) {
        return !waitFor([launcherId] { return topLevelDialogs(launcherId); }).empty();
    });
}

TEST_F(GameLife, EndsDuringACountBoxLeftOpen)
{
    std::unique_ptr<BoxWatcher> boxes;
    endGameDuring("call ScreenResolutionEnable 800 600", [&boxes](DWORD launcherId) {
        boxes = std::make_unique<BoxWatcher>(launcherId, false);
        return boxes->waitForCount(1, kLongWait);
    });
}

// The log-off comes during a download whose body trickles, with the display switched:
// the launcher answers at once, never stands in the way, and puts everything right
// before it lets the session end.
TEST_F(GameLife, TheLogOffDuringADownloadEndsItWithTheDisplayBackAndNoPartialFile)
{
    installGame();
    const std::string destination = dir_.file("kept.bin");
    writeFile(destination, "the old content");
    auto launcher = startLauncher("wait-title 30000; flash; call ScreenResolutionEnable 800 600 32; answer; mode; "
                                  "call HttpDownload " +
                                  quoted(url("/slow/100000/120")) + " " + quoted(destination) + "; pid; sleep 120000");
    const std::string pidLine = waitForLine(transcript(), "pid ", 120000);
    ASSERT_FALSE(pidLine.empty()) << readFile(transcript());
    const EndsProcess endGame{static_cast<DWORD>(std::strtoul(pidLine.c_str() + 4, nullptr, 10))};
    ASSERT_EQ(currentMode(), "800x600");
    ASSERT_FALSE(waitFor([this] { return partialFiles(); }).empty()) << "the body is under way";
    const HWND window = launcherWindow();
    ASSERT_NE(window, nullptr);

    EXPECT_TRUE(sendToWindow(window, WM_NULL).has_value()) << "deaf during the download";
    EXPECT_EQ(sendToWindow(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), std::optional<LRESULT>(TRUE));
    EXPECT_TRUE(sendToWindow(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF).has_value());
    // Windows may end the process as soon as the answer is in: all must be right by then.
    EXPECT_EQ(currentMode(), original_);
    EXPECT_EQ(partialFiles(), std::vector<std::string>{});
    EXPECT_EQ(readFile(destination), "the old content");
    EXPECT_TRUE(launcher->waitForExit(kEndLimitMs)) << "the launcher stayed after the session's end";
}

// The log-off comes while the body, whole, waits for a destination that another program
// holds: the partial file is gone before the launcher answers.
TEST_F(GameLife, TheLogOffWhileTheDestinationIsHeldLeavesNoPartialFile)
{
    installGame();
    const std::string destination = dir_.file("held.bin");
    writeFile(destination, "the old content");
    auto launcher = startLauncher("wait-title 30000; flash; call HttpDownload " + quoted(url("/slow/1000/1")) + " " +
                                  quoted(destination) + "; pid; sleep 120000");
    const std::string pidLine = waitForLine(transcript(), "pid ", 120000);
    ASSERT_FALSE(pidLine.empty()) << readFile(transcript());
    const EndsProcess endGame{static_cast<DWORD>(std::strtoul(pidLine.c_str() + 4, nullptr, 10))};
    const auto partial = waitFor([this] { return partialFiles(); });
    ASSERT_EQ(partial.size(), 1u) << readFile(transcript());
    const HANDLE held = CreateFileA(destination.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(waitFor([&] {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        return GetFileAttributesExA(dir_.file(partial[0]).c_str(), GetFileExInfoStandard, &data) &&
               data.nFileSizeLow == 1000;
    }));
    Sleep(300); // the last step waits for the destination
    EXPECT_TRUE(sendToWindow(launcherWindow(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF).has_value());
    EXPECT_EQ(partialFiles(), std::vector<std::string>{});
    CloseHandle(held);
    EXPECT_TRUE(launcher->waitForExit(kEndLimitMs)) << "the launcher stayed after the session's end";
    EXPECT_EQ(readFile(destination), "the old content");
}

// A log-off that another program cancels changes nothing: the download goes on and is
// answered.
TEST_F(GameLife, ACancelledLogOffLetsTheDownloadComplete)
{
    installGame();
    const std::string destination = dir_.file("got.bin");
    auto launcher = startLauncher("wait-title 30000; flash; call HttpDownload " + quoted(url("/slow/4000/4")) + " " +
                                  quoted(destination) + "; answer 60000; exit 0");
    ASSERT_FALSE(waitFor([this] { return partialFiles(); }).empty()) << readFile(transcript());
    const HWND window = launcherWindow();
    EXPECT_EQ(sendToWindow(window, WM_QUERYENDSESSION), std::optional<LRESULT>(TRUE));
    EXPECT_TRUE(sendToWindow(window, WM_ENDSESSION, FALSE).has_value());
    ASSERT_TRUE(launcher->waitForExit(120000));
    EXPECT_EQ(linesStartingWith("answer "),
              std::vector<std::string>{"answer tovin.game.reply onHttpDownloadComplete() from localhost"});
    EXPECT_EQ(readFile(destination).size(), 4000u);
}

// Another connection's message holds the slot when the download's answer is due: the
// launcher waits for the slot and answers the desktop meanwhile; the answer is written
// once the slot is free.
TEST_F(GameLife, AnAnswerWaitingForTheSlotLeavesTheWindowAnswering)
{
    installGame();
    auto launcher =
        startLauncher("wait-title 30000; flash; call HttpDownload " + quoted(url("/slow/1000/1")) + " " +
                      quoted(dir_.file("got.bin")) +
                      "; post someone.else Hold; sleep 6000; listen someone.else; answer; answer 30000; exit 0");
    ASSERT_FALSE(waitForLine(transcript(), "posted Hold", kLongWait).empty()) << readFile(transcript());
    Sleep(3000); // the download is over by now, and its answer waits for the slot
    EXPECT_TRUE(sendToWindow(launcherWindow(), WM_NULL).has_value()) << "deaf while the answer waits";
    ASSERT_TRUE(launcher->waitForExit(120000));
    EXPECT_EQ(linesStartingWith("answer "),
              (std::vector<std::string>{"answer someone.else Hold() from localhost",
                                        "answer tovin.game.reply onHttpDownloadComplete() from localhost"}));
}

// A download comes in through an open-file dialog's modal loop: the dialog stays alive
// during it, its Cancel still closes it, and its answer follows the download's.
TEST_F(GameLife, ADialogOpenUnderADownloadStaysAlive)
{
    installGame();
    auto launcher = startLauncher("wait-title 30000; flash; call BrowseFile " + quoted(dir_.path()) +
                                  " \"\" null; sleep 1500; call HttpDownload " + quoted(url("/slow/3000/4")) + " " +
                                  quoted(dir_.file("got.bin")) + "; answer 60000; answer 30000; exit 0");
    const auto dialogs = waitFor([&launcher] { return topLevelDialogs(launcher->id()); });
    ASSERT_EQ(dialogs.size(), 1u);
    ASSERT_FALSE(waitFor([this] { return partialFiles(); }).empty()) << readFile(transcript());
    EXPECT_TRUE(sendToWindow(dialogs[0], WM_NULL).has_value()) << "the dialog froze under the download";
    PostMessageA(dialogs[0], WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    ASSERT_TRUE(launcher->waitForExit(120000));
    EXPECT_EQ(linesStartingWith("answer "),
              (std::vector<std::string>{"answer tovin.game.reply onHttpDownloadComplete() from localhost",
                                        "answer tovin.game.reply onBrowseFileCancel() from localhost"}));
}

// The open dialog is moved while a download that came in through it is waited for: the
// system's move loop takes every message, the game's next call too, which must still wait
// for the download's answer.
TEST_F(GameLife, CallsKeepTheirOrderWhileADialogIsMovedUnderADownload)
{
    installGame();
    const std::string moving = dir_.file("moving");
    auto launcher = startLauncher("wait-title 30000; flash; call BrowseFile " + quoted(dir_.path()) +
                                  " \"\" null; sleep 1500; call HttpDownload " + quoted(url("/slow/3000/3")) + " " +
                                  quoted(dir_.file("got.bin")) + "; wait-file " + moving +
                                  "; call SayHello; slot-free 10000; answer 60000; answer 60000; answer 30000; exit 0");
    const auto dialogs = waitFor([&launcher] { return topLevelDialogs(launcher->id()); });
    ASSERT_EQ(dialogs.size(), 1u);
    ASSERT_FALSE(waitFor([this] { return partialFiles(); }).empty()) << readFile(transcript());
    const DWORD thread = GetWindowThreadProcessId(dialogs[0], nullptr);
    const auto inMoveLoop = [thread] {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        return GetGUIThreadInfo(thread, &info) && (info.flags & GUI_INMOVESIZE);
    };
    PostMessageA(dialogs[0], WM_SYSCOMMAND, SC_MOVE, 0);
    ASSERT_TRUE(waitFor(inMoveLoop)) << "the move loop did not start";
    writeFile(moving, "");
    ASSERT_EQ(waitForLine(transcript(), "slot ", kLongWait), "slot free") << readFile(transcript());
    ASSERT_TRUE(waitFor([this] {
        return partialFiles().size() == 1 && readFile(dir_.file(partialFiles()[0])).size() == 3000;
    })) << "the body is in";
    Sleep(500); // the call's message reaches the move loop
    EXPECT_TRUE(inMoveLoop());
    PostMessageA(dialogs[0], WM_KEYDOWN, VK_ESCAPE, 0); // ends the move
    PostMessageA(dialogs[0], WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    ASSERT_TRUE(launcher->waitForExit(120000));
    EXPECT_EQ(linesStartingWith("answer "),
              (std::vector<std::string>{"answer tovin.game.reply onHttpDownloadComplete() from localhost",
                                        "answer tovin.game.reply onUnknownMethod() from localhost",
                                        "answer tovin.game.reply onBrowseFileCancel() from localhost"}));
}

} // namespace
