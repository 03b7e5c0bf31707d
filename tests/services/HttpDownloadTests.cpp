// HttpDownload against a real HTTP server on 127.0.0.1 (started by the test's wrapper).
#include "support/BoxWatcher.h"
#include "support/LauncherFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const char kNot200[] = "Code de retour Http non \xE9gal \xE0 200";
const char kCannotCreate[] = "Impossible de cr\xE9" "er le fichier de destination";

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
    std::string download(const std::string& route, const std::string& destination, const std::string& extra = "")
    {
        converse("call HttpDownload " + quoted(url(route)) + " " + quoted(destination) + extra +
                 "; answer 60000; exit 0");
        const auto found = linesStartingWith("answer ");
        return found.empty() ? "no answer" : found[0];
    }

    static std::string error(const std::string& message, int status)
    {
        return "answer tovin.game.reply onHttpDownloadError(String : " + message + ", Number : " +
               std::to_string(status) + ".000000) from localhost";
    }

    static std::string requests()
    {
        const char* log = std::getenv("TOVIN_HTTP_LOG");
        return log ? readFile(log) : "";
    }

    const std::string complete_ = "answer tovin.game.reply onHttpDownloadComplete() from localhost";
};

TEST_F(HttpDownload, LargeBodyArrivesByteForByte)
{
    const std::string destination = dir_.file("big.bin");
    writeFile(destination, "old content");
    EXPECT_EQ(download("/body/3000000", destination), complete_);
    EXPECT_TRUE(readFile(destination) == expectedBody(3000000)) << "the file must hold the body exactly";
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
    }
}

TEST_F(HttpDownload, RefusedConnectionIsStatusTwo)
{
    const std::string destination = dir_.file("refused.bin");
    converse("call HttpDownload \"http://127.0.0.1:1/x\" " + quoted(destination) + "; answer 60000; exit 0");
    EXPECT_EQ(linesStartingWith("answer "), std::vector<std::string>{error(kNot200, 2)});
    EXPECT_FALSE(fileExists(destination));
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

TEST_F(HttpDownload, BodyCutShortFailsAndKeepsTheOldFile)
{
    const std::string destination = dir_.file("kept.bin");
    writeFile(destination, "the old content");
    EXPECT_EQ(download("/cut", destination), error(kNot200, 5));
    EXPECT_EQ(readFile(destination), "the old content");
}

// The announced length is taken as room up front; one the process cannot hold must not
// end the download differently from any other body cut short.
TEST_F(HttpDownload, AnnouncedLengthBeyondMemoryIsACutBody)
{
    const std::string destination = dir_.file("kept.bin");
    writeFile(destination, "the old content");
    for (const char* announced : {"/cut/4000000000", "/cut/1900000000"}) {
        EXPECT_EQ(download(announced, destination), error(kNot200, 5)) << announced;
        EXPECT_EQ(readFile(destination), "the old content") << announced;
    }
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
    EXPECT_EQ(boxes.boxes()[0].caption, "Alert");
    EXPECT_EQ(boxes.boxes()[0].text, "Nombre de param\xE8tres incorrect : 3");
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
    EXPECT_EQ(boxes.boxes()[0].text, "Nombre de param\xE8tres incorrect : 1");
    EXPECT_EQ(linesStartingWith("no answer"), std::vector<std::string>{"no answer"});
}

TEST_F(HttpDownload, NonAsciiDestinationNameIsCreatedUnderThatName)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "needs Windows-1252";
    const std::string destination = dir_.file("caf\xE9.bin");
    EXPECT_EQ(download("/body/64", destination), complete_);
    EXPECT_EQ(readFile(destination), expectedBody(64));
}

} // namespace
