// The game talking to the launcher end to end: method names, reply names, order.
#include "launcher/Launcher.h"
#include "resources/Texts.h"
#include "services/Methods.h"
#include "support/BoxWatcher.h"
#include "support/LauncherFixture.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace {

using Dispatch = LauncherFixture;

const std::string kUnknownAnswer = "answer tovin.game.reply onUnknownMethod() from localhost";

std::vector<std::string> answers(const std::vector<std::string>& lines)
{
    std::vector<std::string> found;
    for (const auto& line : lines)
        if (line.rfind("answer ", 0) == 0 || line == "no answer")
            found.push_back(line);
    return found;
}

// Whole names, byte for byte: every method of the table in another case, one letter
// longer or one shorter is no method.
TEST_F(Dispatch, UnknownAndNearlyKnownMethodsAreAnsweredWithOnUnknownMethod)
{
    std::string calls = "call Foo 1 \"x\"; answer; ";
    std::size_t count = 1;
    for (const MethodRow& row : kMethodRows) {
        const std::string name(row.name);
        std::string lower = name;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const std::string& miss : {lower, name + "X", name.substr(0, name.size() - 1)}) {
            calls += "call " + miss + "; answer; ";
            ++count;
        }
    }
    EXPECT_EQ(answers(converse(calls + "exit 0")), std::vector<std::string>(count, kUnknownAnswer));
}

TEST_F(Dispatch, CallsWithoutAStringReplyNameGetNoAnswer)
{
    const auto lines = converse("call-bare Foo; no-answer 1500; call-bare Foo 12; no-answer 1500; "
                                "call-bare HttpDownload \"dest\" \"http://127.0.0.1:1/\" 7; no-answer 1500; "
                                "call-bare Foo null; no-answer 1500; call-bare Foo {\"a\": \"b\"}; no-answer 1500; "
                                "call Foo; answer; exit 0");
    EXPECT_EQ(answers(lines), (std::vector<std::string>{"no answer", "no answer", "no answer", "no answer", "no answer",
                                                        kUnknownAnswer}));
}

TEST_F(Dispatch, TwoCallsAreAnsweredInTheirOrder)
{
    const auto lines = converse("listen second.reply; call Foo; call@second.reply Bar; answer; answer; exit 0");
    EXPECT_EQ(answers(lines),
              (std::vector<std::string>{kUnknownAnswer, "answer second.reply onUnknownMethod() from localhost"}));
}

TEST_F(Dispatch, TheLauncherNameIsInTheTableOnceAlsoWhenLeftByAnEarlierRun)
{
    auto lines = converse("call Foo; answer; table; exit 0");
    EXPECT_EQ(linesStartingWith("table "),
              std::vector<std::string>{"table tovin.game.reply,__qel.external.connector__"});
    std::remove(transcript().c_str());
    lines = converse("register __qel.external.connector__; call Foo; answer; table; exit 0");
    EXPECT_EQ(answers(lines), std::vector<std::string>{kUnknownAnswer});
    EXPECT_EQ(linesStartingWith("table "),
              std::vector<std::string>{"table tovin.game.reply,__qel.external.connector__"});
}

TEST_F(Dispatch, GameEndingMidConversationStillEndsTheLauncherPromptly)
{
    installGame();
    auto launcher = startLauncher("wait-title 30000; flash; call Foo; exit 0");
    BoxWatcher boxes(launcher->id());
    ASSERT_FALSE(waitForLine(transcript(), "end 0", kLongWait).empty());
    const ULONGLONG ended = GetTickCount64();
    ASSERT_TRUE(launcher->waitForExit(kLongWait));
    EXPECT_EQ(launcher->exitCode(), 1u);
    EXPECT_LT(GetTickCount64() - ended, 8000u);
    EXPECT_TRUE(boxes.boxes().empty());
}

// Any program can post the call message to the launcher's window, or broadcast it: only
// a record the launcher's listener posted itself is run. The forged messages come before
// a flood that goes past the bound of calls waiting for the window.
TEST_F(Dispatch, ForgedCallMessagesAreIgnoredAndEveryCallIsStillAnswered)
{
    installGame();
    const std::string go = dir_.file("forged");
    auto launcher = startLauncher("wait-title 30000; flash; call Foo; answer; wait-file " + go +
                                  "; flood nulls 5 60000; call Foo; answer 30000; exit 0");
    ASSERT_FALSE(waitForLine(transcript(), "answer ", kLongWait).empty());
    HWND window = FindWindowA(kWindowClassName, nullptr);
    ASSERT_NE(window, nullptr);
    for (const WPARAM wParam : {WPARAM{0}, WPARAM{0x10}, WPARAM{0xDEADBEEF}, WPARAM{0x7FFE0000}, WPARAM{0x00400000}})
        for (const LPARAM lParam : {LPARAM{0}, LPARAM{0x7FFFFFFF}, LPARAM{-1}})
            PostMessageA(window, kCallMessage, wParam, lParam);
    PostMessageA(HWND_BROADCAST, kCallMessage, 0x10, 0);
    writeFile(go, "");
    ASSERT_TRUE(launcher->waitForExit(120000));
    const auto flood = linesStartingWith("flood nulls");
    ASSERT_EQ(flood.size(), 1u) << readFile(transcript());
    const int written = std::atoi(flood[0].c_str() + flood[0].find("written ") + 8);
    const int answered = std::atoi(flood[0].c_str() + flood[0].find("answered ") + 9);
    EXPECT_GT(written, static_cast<int>(CFlashLocalConnection::kMaxPendingBodyBytes / lc::kBodyRoom))
        << "past the bound of bodies waiting";
    EXPECT_EQ(written, answered);
    EXPECT_EQ(answers(readLines(transcript())), std::vector<std::string>(2, kUnknownAnswer));
}

// Each box lets the next call in through its modal loop, and that call may open the
// next box: a flood of such calls must not nest without end.
TEST_F(Dispatch, CallsThatOpenBoxesNestOnlyToTheBoundAndWaitingOnesRunLater)
{
    installGame();
    std::string calls;
    const std::size_t count = CallIntake::kMaxNestedCalls + 4;
    for (std::size_t i = 0; i < count; ++i)
        calls += "call HttpDownload \"only one\"; ";
    auto launcher = startLauncher("wait-title 30000; flash; " + calls + "call Foo; answer 60000; exit 0");
    BoxWatcher boxes(launcher->id(), false);
    ASSERT_TRUE(boxes.waitForCount(CallIntake::kMaxNestedCalls, kLongWait));
    ASSERT_FALSE(waitForLine(transcript(), "call Foo", kLongWait).empty()) << "every call was taken";
    Sleep(1500); // room for one more box to appear if nesting went on
    EXPECT_EQ(topLevelDialogs(launcher->id()).size(), static_cast<std::size_t>(CallIntake::kMaxNestedCalls))
        << "boxes open at once";
    const ULONGLONG deadline = GetTickCount64() + kLongWait;
    while (boxes.boxes().size() < count && GetTickCount64() < deadline) {
        boxes.dismissAll();
        Sleep(300);
    }
    boxes.dismissAll();
    EXPECT_EQ(boxes.boxes().size(), count) << "the calls that waited ran once boxes closed";
    ASSERT_TRUE(launcher->waitForExit(kLongWait));
    EXPECT_EQ(answers(readLines(transcript())), std::vector<std::string>{kUnknownAnswer});
}

} // namespace

namespace {

// A Flash Player may make its section smaller than the listener table's place: the
// launcher stays inside the view it maps, takes the call, and reports what cannot be done.
TEST_F(Dispatch, SectionSmallerThanTheTableIsUsedWithinItsView)
{
    installGame();
    auto launcher = startLauncher("wait-title 30000; flash 16384; call Foo; slot-free 10000; sleep 5000; exit 0");
    BoxWatcher boxes(launcher->id());
    ASSERT_TRUE(launcher->waitForExit(120000));
    EXPECT_EQ(launcher->exitCode(), 1u);
    EXPECT_EQ(linesStartingWith("slot "), std::vector<std::string>{"slot free"}) << "the call was taken";
    std::size_t registering = 0;
    std::size_t noRecipient = 0;
    for (const SeenBox& box : boxes.boxes()) {
        registering += box.text == texts::kRegisteringFailed;
        noRecipient += box.text == texts::kSendNoRecipient;
    }
    EXPECT_GE(registering, 1u) << "no table in the view";
    EXPECT_EQ(noRecipient, 3u) << "the answer finds no reply name";
}

// A section that holds the start of the table: registering, receiving and answering.
TEST_F(Dispatch, SectionEndingInsideTheTableHoldsAWholeConversation)
{
    installGame();
    auto launcher = startLauncher("wait-title 30000; flash 45056; call Foo; answer; table; exit 0");
    ASSERT_TRUE(launcher->waitForExit(120000));
    EXPECT_EQ(launcher->exitCode(), 1u);
    EXPECT_EQ(linesStartingWith("answer "), std::vector<std::string>{kUnknownAnswer});
    EXPECT_EQ(linesStartingWith("table "),
              std::vector<std::string>{"table tovin.game.reply,__qel.external.connector__"});
}

} // namespace
