// The real launcher starting the stand-in game under Wine.
#include "resources/Texts.h"
#include "support/BoxWatcher.h"
#include "support/LauncherFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using LauncherStartup = LauncherFixture;

TEST_F(LauncherStartup, MissingGameShowsTheErrorBoxAndExitsWithOne)
{
    auto launcher = startLauncher("");
    BoxWatcher boxes(launcher->id());
    ASSERT_TRUE(boxes.waitForCount(1, kLongWait));
    ASSERT_TRUE(launcher->waitForExit(kLongWait));
    EXPECT_EQ(launcher->exitCode(), 1u);
    const SeenBox box = boxes.boxes().at(0);
    EXPECT_EQ(box.caption, "An error occured while launching Tovin");
    EXPECT_EQ(box.text, "An internal error (2) occured.");
    EXPECT_TRUE(box.hasIcon);
    EXPECT_EQ(boxes.boxes().size(), 1u);
}

TEST_F(LauncherStartup, GameWithoutWindowEndsTheLauncherSilently)
{
    installGame();
    auto launcher = startLauncher("pid; sleep 60000", "0");
    BoxWatcher boxes(launcher->id());
    ASSERT_TRUE(launcher->waitForExit(kLongWait));
    EXPECT_EQ(launcher->exitCode(), 1u);
    EXPECT_TRUE(boxes.boxes().empty());
    const std::string pidLine = waitForLine(transcript(), "pid ", kLongWait);
    ASSERT_FALSE(pidLine.empty());
    const DWORD gamePid = std::strtoul(pidLine.substr(4).c_str(), nullptr, 10);
    EXPECT_TRUE(processIsRunning(gamePid)) << "the launcher must leave the game running";
    terminateProcessId(gamePid);
}

TEST_F(LauncherStartup, RetitlesTheGameWindowAndEndsWithTheGame)
{
    installGame();
    auto launcher = startLauncher("wait-title 30000; report-windows; exit 0", "1", "--windowed extra arguments");
    ASSERT_TRUE(launcher->waitForExit(kLongWait));
    EXPECT_EQ(launcher->exitCode(), 1u);
    EXPECT_EQ(linesStartingWith("window "),
              std::vector<std::string>{"window 1 title=[" + std::string(texts::kGameWindowTitle) + "] first"});
    EXPECT_EQ(linesStartingWith("end "), std::vector<std::string>{"end 0"});
}

TEST_F(LauncherStartup, OnlyTheFirstEnumeratedOfTwoWindowsIsRetitled)
{
    installGame();
    auto launcher = startLauncher("wait-title 30000; report-windows", "2");
    ASSERT_TRUE(launcher->waitForExit(kLongWait));
    EXPECT_EQ(launcher->exitCode(), 1u);
    const auto windows = linesStartingWith("window ");
    ASSERT_EQ(windows.size(), 2u);
    int retitled = 0;
    for (const auto& line : windows) {
        const bool isTovin = line.find("title=[" + std::string(texts::kGameWindowTitle) + "]") != std::string::npos;
        retitled += isTovin;
        EXPECT_EQ(isTovin, line.find(" first") != std::string::npos) << line;
    }
    EXPECT_EQ(retitled, 1);
}

// Before its main window, the game makes a hidden window and a splash that the main
// window owns, and shows the main window a second after it is input-idle: that one gets
// the title, and owns the dialogs (the game closes only a dialog its main window owns).
TEST_F(LauncherStartup, TheWindowThePlayerSeesIsWaitedForAndUsed)
{
    installGame();
    auto launcher = startLauncher("wait-title 30000; report-windows; flash; call BrowseFile \"C:\\\\\" \"\" \"\"; "
                                  "dialog-cancel; answer 30000; exit 0",
                                  "splash");
    ASSERT_TRUE(launcher->waitForExit(kLongWait));
    std::vector<std::string> titles;
    for (const auto& line : linesStartingWith("window "))
        titles.push_back(line.substr(0, line.rfind(']') + 1));
    EXPECT_EQ(titles,
              (std::vector<std::string>{"window 1 title=[" + std::string(texts::kGameWindowTitle) + "]",
                                        "window 2 title=[stand-in splash]", "window 3 title=[stand-in helper]"}));
    EXPECT_EQ(linesStartingWith("dialog: "), std::vector<std::string>{"dialog: cancel"});
    EXPECT_EQ(linesStartingWith("answer "),
              std::vector<std::string>{"answer tovin.game.reply onBrowseFileCancel() from localhost"});
}

TEST_F(LauncherStartup, NoticesAGameThatExitsWithStillActive)
{
    installGame();
    auto launcher = startLauncher("wait-title 30000; exit 259");
    ASSERT_FALSE(waitForLine(transcript(), "end 259", kLongWait).empty());
    const ULONGLONG ended = GetTickCount64();
    ASSERT_TRUE(launcher->waitForExit(kLongWait));
    EXPECT_EQ(launcher->exitCode(), 1u);
    EXPECT_LT(GetTickCount64() - ended, 5000u) << "the launcher must notice the end within a few ticks";
}

} // namespace
