// BrowseFile and BrowseFileToSave, driving the real dialogs that the launcher opens.
#include "resources/FilledText.h"
#include "resources/Texts.h"
#include "services/FileDialogs.h"
#include "support/BoxWatcher.h"
#include "support/LauncherFixture.h"
#include "support/Wait.h"
#include "win/WideText.h"

#include <gtest/gtest.h>

#include <dlgs.h>

#include <algorithm>
#include <set>

namespace {

constexpr int kFileTypes = cmb1;
constexpr int kFileName = cmb13; // with its edit field

class BrowseDialog : public LauncherFixture {
protected:
    void start(const std::string& calls)
    {
        installGame();
        launcher_ = startLauncher("wait-title 30000; flash; " + calls + "; exit 0");
    }

    // The next file dialog of the launcher (one with a file-name field).
    HWND waitForDialog()
    {
        HWND found = nullptr;
        const bool appeared = waitUntil(
            [&] {
                for (HWND dialog : topLevelDialogs(launcher_->id()))
                    if (dialog != lastDialog_ && GetDlgItem(dialog, kFileTypes) && nameField(dialog))
                        found = dialog;
                return found != nullptr;
            },
            kLongWait);
        if (!appeared) {
            ADD_FAILURE() << "no file dialog appeared";
            return nullptr;
        }
        // The dialog fills its controls before it waits for the user: wait for that.
        EXPECT_EQ(WaitForInputIdle(launcher_->handle(), kLongWait), 0u);
        lastDialog_ = found;
        return found;
    }

    static std::vector<std::string> fileTypes(HWND dialog)
    {
        HWND combo = GetDlgItem(dialog, kFileTypes);
        std::vector<std::string> types;
        const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            // The combo box is a Unicode window; across processes its text comes back in UTF-16.
            wchar_t text[512] = {};
            SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            types.push_back(win::narrow(text));
        }
        return types;
    }

    static HWND nameField(HWND dialog)
    {
        for (HWND child : childWindows(dialog))
            if (GetDlgCtrlID(child) == kFileName && windowClass(child) == "Edit")
                return child;
        return nullptr;
    }

    static void choose(HWND dialog, const std::string& name)
    {
        SendMessageW(nameField(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(win::widen(name).c_str()));
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }

    static void cancel(HWND dialog) { PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); }

    std::vector<std::string> finish()
    {
        EXPECT_TRUE(launcher_->waitForExit(60000));
        return linesStartingWith("answer ");
    }

    static std::string answer(const std::string& method, const std::string& arguments = "")
    {
        return "answer tovin.game.reply " + method + "(" + arguments + ") from localhost";
    }

    std::unique_ptr<ChildProcess> launcher_;
    HWND lastDialog_ = nullptr;
};

TEST_F(BrowseDialog, OpenWithFiltersRelativeFolderAndInitialName)
{
    CreateDirectoryA(dir_.file("saves").c_str(), nullptr);
    writeFile(dir_.file("saves\\pic.png"), "png");
    start("call BrowseFile \"saves\" \"start.png\" {\"0\": \"Images\", \"1\": \"*.png;*.jpg\"}; answer 60000");
    HWND dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(windowText(GetWindow(dialog, GW_OWNER)), texts::kGameWindowTitle) << "owned by the game window";
    EXPECT_EQ(fileTypes(dialog), std::vector<std::string>{"Images"});
    EXPECT_EQ(windowText(nameField(dialog)), "start.png");
    choose(dialog, "pic.png");
    EXPECT_EQ(finish(), std::vector<std::string>{
                            answer("onBrowseFileSelect", "Array : {String : " + dir_.file("saves\\pic.png") + "}")});
}

TEST_F(BrowseDialog, FilterListsThatAreNoObjectGiveAllFilesAndCancelIsAnswered)
{
    start("call BrowseFile \"C:\\\\\" \"\" 12; answer 60000; call BrowseFile \"C:\\\\\" \"\" \"*.txt\"; answer 60000; "
          "call BrowseFile \"C:\\\\\" \"\" [\"Images\", \"*.png\"]; answer 60000");
    for (int i = 0; i < 3; ++i) {
        HWND dialog = waitForDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(fileTypes(dialog), std::vector<std::string>{texts::kAllFilesName}) << i;
        cancel(dialog);
    }
    EXPECT_EQ(finish(), std::vector<std::string>(3, answer("onBrowseFileCancel")));
}

TEST_F(BrowseDialog, TooFewArgumentsShowTheCountBoxThenOpenWithDefaults)
{
    start("call BrowseFile; answer 60000");
    BoxWatcher boxes(launcher_->id());
    HWND dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, texts::kCountCaption);
    EXPECT_EQ(boxes.boxes()[0].text, filledText(texts::kCountInsufficient, 0));
    EXPECT_EQ(fileTypes(dialog), std::vector<std::string>{texts::kAllFilesName});
    cancel(dialog);
    EXPECT_EQ(finish(), std::vector<std::string>{answer("onBrowseFileCancel")});
}

TEST_F(BrowseDialog, MustExistByDefaultKeepsTheDialogOpenForAMissingName)
{
    start("call BrowseFile " + quoted(dir_.path()) + " \"\" null; answer 60000");
    HWND dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    choose(dialog, "does-not-exist.txt");
    HWND warning = nullptr;
    waitUntil(
        [&] {
            for (HWND box : topLevelDialogs(launcher_->id()))
                if (box != dialog)
                    warning = box;
            return warning != nullptr;
        },
        10000);
    ASSERT_NE(warning, nullptr) << "the dialog says the file does not exist";
    EXPECT_TRUE(IsWindow(dialog)) << "the open dialog must stay";
    PostMessageA(warning, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(warning); }, 5000));
    cancel(dialog);
    EXPECT_EQ(finish(), std::vector<std::string>{answer("onBrowseFileCancel")});
}

TEST_F(BrowseDialog, MultipleSelectionAnswersEveryFullPath)
{
    writeFile(dir_.file("a.txt"), "a");
    writeFile(dir_.file("b.txt"), "b");
    start("call BrowseFile " + quoted(dir_.path()) + " \"\" null true; answer 60000");
    HWND dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    choose(dialog, "\"a.txt\" \"b.txt\"");
    const auto answers = finish();
    ASSERT_EQ(answers.size(), 1u);
    const std::string a = "String : " + dir_.file("a.txt");
    const std::string b = "String : " + dir_.file("b.txt");
    // The dialog decides the order of the names.
    EXPECT_TRUE(answers[0] == answer("onBrowseFileSelect", "Array : {" + a + ", " + b + "}") ||
                answers[0] == answer("onBrowseFileSelect", "Array : {" + b + ", " + a + "}"))
        << answers[0];
}

// Forty names take more than a single name's buffer: each comes back as its full path.
TEST_F(BrowseDialog, ManyFilesChosenAtOnceAreEachAnsweredWithTheirFullPath)
{
    CreateDirectoryA(dir_.file("many").c_str(), nullptr);
    std::string typed;
    std::set<std::string> expected;
    for (int i = 0; i < 40; ++i) {
        const std::string name = "a-saved-game-from-the-long-campaign-" + std::to_string(100 + i) + ".sav";
        writeFile(dir_.file("many\\" + name), "s");
        typed += "\"" + name + "\" ";
        expected.insert("String : " + dir_.file("many\\" + name));
    }
    start("call BrowseFile " + quoted(dir_.file("many")) + " \"\" null true; answer 60000");
    HWND dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    choose(dialog, typed);
    const auto answers = finish();
    ASSERT_EQ(answers.size(), 1u);
    const std::string head = "answer tovin.game.reply onBrowseFileSelect(Array : {";
    const std::string tail = "}) from localhost";
    ASSERT_EQ(answers[0].rfind(head, 0), 0u) << answers[0];
    ASSERT_GT(answers[0].size(), head.size() + tail.size());
    std::set<std::string> paths; // in the dialog's order, which is its own
    std::string list = answers[0].substr(head.size(), answers[0].size() - head.size() - tail.size());
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t comma = std::min(list.find(", ", at), list.size());
        paths.insert(list.substr(at, comma - at));
        at = comma + 2;
    }
    EXPECT_EQ(paths, expected);
}

// The dialog ends the chosen path with a NUL inside the initial name's longer text: only
// the path is the answer, with or without multiple selection.
TEST_F(BrowseDialog, LongInitialNameLeavesNothingBehindAShortChoice)
{
    writeFile(dir_.file("a.txt"), "a");
    const std::string longName = quoted(std::string(196, 'n') + ".txt");
    start("call BrowseFile " + quoted(dir_.path()) + " " + longName + " null; answer 60000; call BrowseFile " +
          quoted(dir_.path()) + " " + longName + " null true; answer 60000");
    for (int i = 0; i < 2; ++i) {
        HWND dialog = waitForDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(windowText(nameField(dialog)).size(), 200u);
        choose(dialog, "a.txt");
    }
    EXPECT_EQ(finish(), std::vector<std::string>(
                            2, answer("onBrowseFileSelect", "Array : {String : " + dir_.file("a.txt") + "}")));
}

TEST_F(BrowseDialog, SaveWithoutFilterListOffersNoTypesAndAnswersAPlainString)
{
    start("call BrowseFileToSave; answer 60000; call BrowseFileToSave " + quoted(dir_.path()) +
          " \"name.sav\"; answer 60000");
    HWND dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(fileTypes(dialog).empty());
    EXPECT_EQ(windowText(nameField(dialog)), "");
    choose(dialog, dir_.file("new.sav"));
    dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(fileTypes(dialog).empty());
    EXPECT_EQ(windowText(nameField(dialog)), "name.sav");
    cancel(dialog);
    EXPECT_EQ(finish(),
              (std::vector<std::string>{answer("onBrowseFileToSaveSelect", "String : " + dir_.file("new.sav")),
                                        answer("onBrowseFileToSaveCancel")}));
}

TEST_F(BrowseDialog, SaveDialogIsOwnedByTheGameWithARelativeFolderOrNone)
{
    CreateDirectoryA(dir_.file("saves").c_str(), nullptr);
    start("call BrowseFileToSave \"saves\" \"\"; answer 60000; call BrowseFileToSave; answer 60000");
    HWND dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(windowText(GetWindow(dialog, GW_OWNER)), texts::kGameWindowTitle) << "owned by the game window";
    choose(dialog, "slot.sav");
    // No folder given: the system's choice, the current directory, which the first
    // dialog left in the folder it closed in.
    dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(windowText(GetWindow(dialog, GW_OWNER)), texts::kGameWindowTitle);
    choose(dialog, "free.sav");
    EXPECT_EQ(finish(), (std::vector<std::string>{
                            answer("onBrowseFileToSaveSelect", "String : " + dir_.file("saves\\slot.sav")),
                            answer("onBrowseFileToSaveSelect", "String : " + dir_.file("saves\\free.sav"))}));
}

// Initial names longer than the dialogs' buffers are cut to them, with room for the NUL.
TEST_F(BrowseDialog, InitialNamesAreCutToTheirBuffers)
{
    start("call BrowseFile " + quoted(dir_.path()) + " " + quoted(std::string(kOpenNameSize * 3 / 2, 'o')) +
          " null; answer 60000; call BrowseFileToSave " + quoted(dir_.path()) + " " +
          quoted(std::string(kSaveBufferSize * 3 / 2, 's')) + "; answer 60000");
    HWND dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(windowText(nameField(dialog)), std::string(kOpenNameSize - 1, 'o'));
    cancel(dialog);
    dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(windowText(nameField(dialog)), std::string(kSaveBufferSize - 1, 's'));
    cancel(dialog);
    EXPECT_EQ(finish(), (std::vector<std::string>{answer("onBrowseFileCancel"), answer("onBrowseFileToSaveCancel")}));
}

TEST_F(BrowseDialog, SavingOverAnExistingFileAsksFirst)
{
    writeFile(dir_.file("old.sav"), "keep");
    start("call BrowseFileToSave " + quoted(dir_.path()) + " \"\" {\"0\": \"Saves\", \"1\": \"*.sav\"}; answer 60000");
    HWND dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(fileTypes(dialog), std::vector<std::string>{"Saves"});
    BoxWatcher question(launcher_->id(), false);
    choose(dialog, "old.sav");
    ASSERT_TRUE(question.waitForCount(1, 10000)) << "the overwrite question";
    for (HWND box : topLevelDialogs(launcher_->id()))
        if (box != dialog)
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    EXPECT_EQ(finish(),
              std::vector<std::string>{answer("onBrowseFileToSaveSelect", "String : " + dir_.file("old.sav"))});
}

} // namespace
