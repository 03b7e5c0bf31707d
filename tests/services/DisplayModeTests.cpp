// ScreenResolutionEnable and ScreenResolutionDisable inside a Wine virtual desktop.
#include "reports/CrashReport.h"
#include "resources/FilledText.h"
#include "resources/Texts.h"
#include "support/BoxWatcher.h"
#include "support/LauncherFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

class DisplayMode : public LauncherFixture {
protected:
    void SetUp() override
    {
        LauncherFixture::SetUp();
        original_ = currentMode();
    }
    void TearDown() override { EXPECT_EQ(currentMode(), original_) << "the launcher must leave the mode it found"; }

    std::vector<std::string> run(const std::string& calls)
    {
        converse(calls + "; exit 0");
        std::vector<std::string> found;
        for (const auto& line : readLines(transcript()))
            if (line.rfind("answer ", 0) == 0 || line.rfind("mode ", 0) == 0 || line == "no answer")
                found.push_back(line.substr(0, line.find(" from ")));
        return found;
    }

    std::string original_;
    const std::string success_ = "answer tovin.game.reply onScreenResolutionSuccess()";
    const std::string error_ = "answer tovin.game.reply onScreenResolutionError()";
};

TEST_F(DisplayMode, SwitchesAndRestores)
{
    EXPECT_EQ(run("call ScreenResolutionEnable 800 600 32; answer; mode; call ScreenResolutionDisable; "
                  "no-answer 1000; mode"),
              (std::vector<std::string>{success_, "mode 800x600x32", "no answer", "mode " + original_ + "x32"}));
}

TEST_F(DisplayMode, FractionalWidthIsTruncated)
{
    EXPECT_EQ(run("call ScreenResolutionEnable 1024.9 768 32; answer; mode; call ScreenResolutionDisable"),
              (std::vector<std::string>{success_, "mode 1024x768x32"}));
}

TEST_F(DisplayMode, UnsupportedModeIsAnErrorAndTheSavedModeStays)
{
    EXPECT_EQ(
        run("call ScreenResolutionEnable 800 600 32; answer; call ScreenResolutionEnable 12345 7 32; answer; "
            "call ScreenResolutionEnable 640 480 32; answer; mode; call ScreenResolutionDisable; no-answer 500; mode"),
        (std::vector<std::string>{success_, error_, success_, "mode 640x480x32", "no answer",
                                  "mode " + original_ + "x32"}));
}

TEST_F(DisplayMode, DisableWithNothingSavedChangesNothing)
{
    EXPECT_EQ(run("call ScreenResolutionDisable; no-answer 1000; mode"),
              (std::vector<std::string>{"no answer", "mode " + original_ + "x32"}));
}

TEST_F(DisplayMode, WrongCountShowsTheBoxAndNonNumbersDoNothing)
{
    installGame();
    auto launcher = startLauncher("wait-title 30000; flash; call ScreenResolutionEnable 800 600; no-answer 1000; "
                                  "call ScreenResolutionEnable; no-answer 1000; "
                                  "call ScreenResolutionEnable 800 \"600\" 32; no-answer 1000; "
                                  "call ScreenResolutionEnable 1e300 600 32; no-answer 1000; "
                                  "call ScreenResolutionEnable NaN 600 32; no-answer 1000; mode; exit 0");
    BoxWatcher boxes(launcher->id());
    ASSERT_TRUE(launcher->waitForExit(60000));
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].text, filledText(texts::kCountIncorrect, 2));
    EXPECT_EQ(boxes.boxes()[0].caption, texts::kCountCaption);
    EXPECT_EQ(boxes.boxes()[1].text, filledText(texts::kCountIncorrect, 0));
    EXPECT_EQ(linesStartingWith("call ScreenResolutionEnable(String : tovin.game.reply, Number : nan").size(), 1u)
        << "the game sent a NaN";
    EXPECT_EQ(linesStartingWith("no answer").size(), 5u);
    EXPECT_EQ(linesStartingWith("mode "), std::vector<std::string>{"mode " + original_ + "x32"});
}

// -1 is a number with an integer: its low 32 bits, 0xFFFFFFFF, are asked for and refused.
TEST_F(DisplayMode, MinusOneWidthIsAskedForAndRefused)
{
    EXPECT_EQ(run("call ScreenResolutionEnable -1 600 32; answer; mode; call ScreenResolutionDisable; no-answer 500"),
              (std::vector<std::string>{error_, "mode " + original_ + "x32", "no answer"}));
}

TEST_F(DisplayMode, GameEndingWhileSwitchedGetsTheOriginalModeBack)
{
    EXPECT_EQ(run("call ScreenResolutionEnable 800 600 32; answer; mode"),
              (std::vector<std::string>{success_, "mode 800x600x32"}));
    // TearDown checks the mode after the launcher has exited.
}

} // namespace

namespace {

// A process that dies after a switch: the launcher's crash handlers put the mode back, and
// its report's exception record says which way it died.
struct Way {
    const char* name;
    const char* argument;
    DWORD exitCode;
    DWORD reportCode; // 0: no report
};

// The names of the crash reports in the folder now.
std::vector<std::string> crashReports()
{
    char folder[MAX_PATH] = {};
    GetEnvironmentVariableA("LOCALAPPDATA", folder, MAX_PATH);
    std::vector<std::string> found;
    for (const auto& name : filesMatching(std::string(folder) + "\\TovinLauncher\\CrashReports\\TovinLauncher-*.dmp"))
        found.push_back(std::string(folder) + "\\TovinLauncher\\CrashReports\\" + name);
    return found;
}

// The exception code a minidump records, or 0.
constexpr DWORD kExceptionStream = 6; // MINIDUMP_STREAM_TYPE
DWORD exceptionCode(const std::string& path)
{
    const std::string dump = readFile(path);
    const auto word = [&dump](std::size_t at) {
        DWORD value = 0;
        if (at + sizeof value <= dump.size())
            std::memcpy(&value, dump.data() + at, sizeof value);
        return value;
    };
    const DWORD directory = word(12);
    for (DWORD i = 0; i < word(8) && i < 64; ++i) {
        const std::size_t entry = directory + std::size_t{12} * i; // type, size, where
        if (word(entry) == kExceptionStream)
            return word(word(entry + 8) + 8); // the code, after the thread id and padding
    }
    return 0;
}

class DisplayModeCrash : public ::testing::TestWithParam<Way> {};

TEST_P(DisplayModeCrash, PutsTheSavedModeBackBeforeTheProcessEndsAndSaysHowInTheReport)
{
    const Way& way = GetParam();
    const std::string original = currentMode();
    const std::vector<std::string> before = crashReports();
    TempDir dir;
    ChildProcess probe(buildDirectory() + "\\crash_probe.exe", dir.file("switched.txt") + " " + way.argument,
                       dir.path(), {});
    ASSERT_TRUE(probe.started());
    ASSERT_TRUE(probe.waitForExit(60000));
    EXPECT_EQ(probe.exitCode(), way.exitCode);
    EXPECT_EQ(readLines(dir.file("switched.txt")), std::vector<std::string>{"800x600"}) << "the switch came first";
    EXPECT_EQ(currentMode(), original);
    if (currentMode() != original)
        ChangeDisplaySettingsA(nullptr, 0); // the other tests start from the usual mode

    std::vector<DWORD> written;
    for (const auto& report : crashReports())
        if (std::find(before.begin(), before.end(), report) == before.end())
            written.push_back(exceptionCode(report));
    EXPECT_EQ(written, way.reportCode ? std::vector<DWORD>{way.reportCode} : std::vector<DWORD>{});
}

constexpr DWORD kAbortExitCode = 3;
constexpr DWORD kFilterCameBack = 7; // the probe ends itself once the launcher's filter is back
INSTANTIATE_TEST_SUITE_P(
    Ways, DisplayModeCrash,
    ::testing::Values(Way{"fault", "fault", EXCEPTION_ACCESS_VIOLATION, EXCEPTION_ACCESS_VIOLATION},
                      Way{"threadFault", "thread-fault", EXCEPTION_ACCESS_VIOLATION, EXCEPTION_ACCESS_VIOLATION},
                      Way{"terminate", "terminate", kAbortExitCode, kTerminateCode},
                      Way{"abort", "abort", kAbortExitCode, kAbortCode},
                      Way{"pureVirtual", "pure-virtual", kAbortExitCode, kPureCallCode},
                      Way{"exit", "exit", kAbortExitCode, 0},
                      // Left to the system, with no report: only a part of one, removed later.
                      Way{"faultInReport", "fault-in-report", EXCEPTION_ACCESS_VIOLATION, 0},
                      // The reporting thread stuck in a hang report's writing: no report, and
                      // the broken thread gives up its wait and puts the display back itself.
                      Way{"crashDuringAStuckHangReport", "hang-then-crash", kFilterCameBack, 0}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
