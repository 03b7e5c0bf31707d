// HttpDownload against a real HTTP server on 127.0.0.1 (started by the test's wrapper).
#include "resources/FilledText.h"
#include "resources/Texts.h"
#include "support/BoxWatcher.h"
#include "support/LauncherFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const std::string kNot200 = texts::kHttpStatusNot200;
const std::string kCannotCreate = texts::kCannotCreateDestination;

std::string expectedBody(std::size_t n)
{
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 7) % 251);
    return bytes;
}

class HttpDownload : public LauncherFixture {
protected:
    std::string url(const std::string& route) const
    {
        const char* port = std::getenv("TOVIN_HTTP_PORT");
        return "http://127.0.0.1:" + std::string(port ? port : "0") + route;
    }

    // Downloads `route` into `destination` and returns the game's answer line.
    std::string download(const std::string& route, const std::string& destination, int answerMs = 60000)
    {
        converse("call HttpDownload " + quoted(url(route)) + " " + quoted(destination) + "; answer " +
                 std::to_string(answerMs) + "; exit 0");
        const auto found = linesStartingWith("answer ");
        return found.empty() ? "no answer" : found[0];
    }

    static std::string error(const std::string& message, int status)
    {
        return "answer tovin.game.reply onHttpDownloadError(String : " + message +
               ", Number : " + std::to_string(status) + ".000000) from localhost";
    }

    static std::string requests()
    {
        const char* log = std::getenv("TOVIN_HTTP_LOG");
        return log ? readFile(log) : "";
    }

    static std::string cannotCreate(const std::string& path)
    {
        return "answer tovin.game.reply onHttpDownloadError(String : " + std::string(kCannotCreate) +
               ", String : " + path + ") from localhost";
    }

    // The launcher's temporary files (tvn*.tmp) left in the test folder (or another).
    std::vector<std::string> leftovers(const std::string& folder = "") const
    {
        return filesMatching(folder.empty() ? dir_.file("tvn*.tmp") : folder + "tvn*.tmp");
    }

    const std::string complete_ = "answer tovin.game.reply onHttpDownloadComplete() from localhost";
};

// Read after read into the file: every block boundary lands where it should.
TEST_F(HttpDownload, LargeBodyArrivesByteForByte)
{
    constexpr std::size_t kSize = 64u << 20;
    const std::string destination = dir_.file("big.bin");
    writeFile(destination, "old content");
    EXPECT_EQ(download("/fast/" + std::to_string(kSize), destination), complete_);
    EXPECT_TRUE(readFile(destination) == expectedBody(kSize)) << "the file must hold the body exactly";
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(HttpDownload, RedirectIsFollowed)
{
    const std::string destination = dir_.file("moved.bin");
    EXPECT_EQ(download("/redirect", destination), complete_);
    EXPECT_EQ(readFile(destination), expectedBody(1000));
}

TEST_F(HttpDownload, StatusesOtherThan200AreErrorsAndLeaveNoFile)
{
    const std::pair<const char*, int> rows[] = {{"/404", 404}, {"/empty", 4}, {"/204", 4}, {"/206", 206}};
    for (const auto& [route, status] : rows) {
        const std::string destination = dir_.file(std::string("out") + std::to_string(status) + ".bin");
        std::remove(transcript().c_str());
        EXPECT_EQ(download(route, destination), error(kNot200, status)) << route;
        EXPECT_FALSE(fileExists(destination)) << route;
        EXPECT_EQ(leftovers(), std::vector<std::string>{}) << route;
    }
}

TEST_F(HttpDownload, RefusedConnectionIsStatusTwo)
{
    const std::string destination = dir_.file("refused.bin");
    converse("call HttpDownload \"http://127.0.0.1:1/x\" " + quoted(destination) + "; answer 60000; exit 0");
    EXPECT_EQ(linesStartingWith("answer "), std::vector<std::string>{error(kNot200, 2)});
    EXPECT_FALSE(fileExists(destination));
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(HttpDownload, MissingFolderIsAnsweredBeforeAnyRequest)
{
    const std::string destination = dir_.file("no such folder\\file.bin");
    const std::string before = requests();
    const std::string answer = download("/body/10", destination);
    EXPECT_EQ(answer, "answer tovin.game.reply onHttpDownloadError(String : " + std::string(kCannotCreate) +
                          ", String : " + destination + ") from localhost");
    EXPECT_EQ(requests(), before) << "no request may reach the server";
}

// The destination itself is tried before the request: a folder, a name the file system
// refuses and a read-only file are each answered at once, and the server sees nothing.
TEST_F(HttpDownload, DestinationThatCannotBeWrittenIsAnsweredBeforeAnyRequest)
{
    CreateDirectoryA(dir_.file("a folder").c_str(), nullptr);
    const std::string readOnly = dir_.file("read-only.bin");
    writeFile(readOnly, "kept as it is");
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    for (const std::string& destination : {dir_.file("a folder"), dir_.file("bad|name.bin"), readOnly}) {
        std::remove(transcript().c_str());
        const std::string before = requests();
        EXPECT_EQ(download("/body/10", destination), cannotCreate(destination));
        EXPECT_EQ(requests(), before) << destination << ": no request may reach the server";
    }
    EXPECT_EQ(readFile(readOnly), "kept as it is");
    EXPECT_FALSE(fileExists(dir_.file("bad|name.bin")));
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// An existing destination is opened only to be tried: it keeps its content until the
// body has arrived, and a new one tried is not left behind when the request fails.
TEST_F(HttpDownload, TryingTheDestinationChangesNothingOnFailure)
{
    const std::string existing = dir_.file("existing.bin");
    writeFile(existing, "the old content");
    EXPECT_EQ(download("/404", existing), error(kNot200, 404));
    EXPECT_EQ(readFile(existing), "the old content");
    std::remove(transcript().c_str());
    const std::string fresh = dir_.file("fresh.bin");
    EXPECT_EQ(download("/404", fresh), error(kNot200, 404));
    EXPECT_FALSE(fileExists(fresh));
}

// The body cannot replace a destination that another program holds open for longer than
// the launcher waits for it: the answer of a failed write, and no file left behind.
TEST_F(HttpDownload, DestinationLockedDuringTheTransferIsAFailedWrite)
{
    const std::string destination = dir_.file("locked.bin");
    writeFile(destination, "the old content");
    installGame();
    auto launcher = startLauncher("wait-title 30000; flash; call HttpDownload " + quoted(url("/slow/100/2")) + " " +
                                  quoted(destination) + "; answer 60000; exit 0");
    HANDLE lock = INVALID_HANDLE_VALUE;
    for (int i = 0; i < 600 && lock == INVALID_HANDLE_VALUE; ++i) {
        if (requests().find("/slow/100/2") != std::string::npos)
            lock = CreateFileA(destination.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        else
            Sleep(50);
    }
    ASSERT_NE(lock, INVALID_HANDLE_VALUE) << "the request never came";
    EXPECT_TRUE(launcher->waitForExit(60000));
    CloseHandle(lock);
    EXPECT_EQ(linesStartingWith("answer "), std::vector<std::string>{cannotCreate(destination)});
    EXPECT_EQ(readFile(destination), "the old content");
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// A scanner holds the partial file, then a backup tool the destination, neither sharing
// its deletion, for half a second after the body's last byte: the last step is tried
// again until they let go, and the body arrives whole.
TEST_F(HttpDownload, FileHeldForAMomentAfterTheLastByteIsWaitedFor)
{
    constexpr std::size_t kSize = 100000;
    for (const bool holdDestination : {false, true}) {
        const std::string folder = dir_.file(holdDestination ? "held\\" : "scanned\\");
        CreateDirectoryA(folder.c_str(), nullptr);
        const std::string destination = folder + "x.bin";
        writeFile(destination, "the old content");
        std::remove(transcript().c_str());
        installGame();
        auto launcher = startLauncher("wait-title 30000; flash; call HttpDownload " + quoted(url("/slow/100000/1")) +
                                      " " + quoted(destination) + "; answer 60000; exit 0");
        std::vector<std::string> partial;
        for (int i = 0; i < 600 && partial.empty(); ++i, Sleep(50))
            partial = leftovers(folder);
        ASSERT_EQ(partial.size(), 1u) << "no partial file came";
        const std::string partialPath = folder + partial[0];
        const HANDLE held = holdDestination
                                ? CreateFileA(destination.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                                : CreateFileA(partialPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        for (int i = 0; i < 600 && GetFileAttributesExA(partialPath.c_str(), GetFileExInfoStandard, &data) &&
                        data.nFileSizeLow < kSize;
             ++i)
            Sleep(20);
        Sleep(500);
        CloseHandle(held);
        ASSERT_TRUE(launcher->waitForExit(60000));
        EXPECT_EQ(linesStartingWith("answer "), std::vector<std::string>{complete_}) << destination;
        EXPECT_TRUE(readFile(destination) == expectedBody(kSize)) << destination;
        EXPECT_EQ(leftovers(folder), std::vector<std::string>{}) << destination;
    }
}

// A folder that refuses new files but lets its file be written: the body goes to a
// file in the system's temporary folder, copied over the destination once whole (a
// failed download leaves it as it was); a new name there is refused before any request.
TEST_F(HttpDownload, FolderThatTakesNoNewFileGetsTheBodyThroughTheTemporaryFolder)
{
    const char* sealed = std::getenv("TOVIN_SEALED_DIR");
    if (!sealed)
        GTEST_SKIP() << "the file system here cannot seal a folder";
    char temporary[MAX_PATH + 1] = {};
    ASSERT_NE(GetTempPathA(sizeof temporary, temporary), 0u);
    const std::vector<std::string> before = leftovers(temporary);
    const std::string destination = std::string(sealed) + "\\x.bin";
    ASSERT_EQ(readFile(destination), "old");
    EXPECT_EQ(download("/404", destination), error(kNot200, 404));
    EXPECT_EQ(readFile(destination), "old");
    std::remove(transcript().c_str());
    EXPECT_EQ(download("/fast/300000", destination), complete_);
    EXPECT_TRUE(readFile(destination) == expectedBody(300000));
    EXPECT_EQ(leftovers(temporary), before);
    std::remove(transcript().c_str());
    const std::string fresh = std::string(sealed) + "\\new.bin";
    const std::string requested = requests();
    EXPECT_EQ(download("/body/10", fresh), cannotCreate(fresh));
    EXPECT_EQ(requests(), requested) << "no request may reach the server";
}

TEST_F(HttpDownload, ThreeArgumentsShowTheCountBoxThenDownload)
{
    installGame();
    const std::string destination = dir_.file("three.bin");
    auto launcher = startLauncher("wait-title 30000; flash; call HttpDownload " + quoted(url("/body/100")) + " " +
                                  quoted(destination) + " \"extra\"; answer 60000; exit 0");
    BoxWatcher boxes(launcher->id());
    ASSERT_TRUE(launcher->waitForExit(120000));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, texts::kCountCaption);
    EXPECT_EQ(boxes.boxes()[0].text, filledText(texts::kCountIncorrect, 3));
    EXPECT_FALSE(boxes.boxes()[0].hasIcon);
    EXPECT_EQ(linesStartingWith("answer "), std::vector<std::string>{complete_});
    EXPECT_EQ(readFile(destination), expectedBody(100));
}

TEST_F(HttpDownload, OneArgumentShowsTheCountBoxAndNothingElse)
{
    installGame();
    auto launcher = startLauncher("wait-title 30000; flash; call HttpDownload " + quoted(url("/body/100")) +
                                  "; no-answer 2000; exit 0");
    BoxWatcher boxes(launcher->id());
    ASSERT_TRUE(launcher->waitForExit(120000));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, filledText(texts::kCountIncorrect, 1));
    EXPECT_EQ(linesStartingWith("no answer"), std::vector<std::string>{"no answer"});
}

} // namespace
