// A hostile Flash content floods the launcher with full-size calls while a slow
// download holds its main thread. The launcher must stay up, answer every call it took
// and the download, answer a call that follows, and keep its memory bounded.
#include "amf/AmfReader.h"
#include "localconnection/FlashLocalConnection.h"
#include "support/LauncherFixture.h"
#include "support/LinuxProcess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>

namespace {

// The calls that may wait for the main thread hold at most kMaxHeapPerBodyByte heap bytes
// per body byte; four times that leaves room for the process's own share and Wine's.
constexpr std::uint64_t kPeakLimitKiB =
    4 * CFlashAMFReader::kMaxHeapPerBodyByte * CFlashLocalConnection::kMaxPendingBodyBytes / 1024;

class Flood : public LauncherFixture {
protected:
    std::string url(const std::string& route) const
    {
        const char* port = std::getenv("TOVIN_HTTP_PORT");
        return "http://127.0.0.1:" + std::string(port ? port : "0") + route;
    }

    // Runs the download, the flood during it, and a follow-up call; returns the
    // launcher's peak resident memory in KiB, read before it ends.
    std::uint64_t floodDuringDownload(const std::string& kind, int floodSeconds, int downloadSeconds)
    {
        installGame();
        const std::string destination = dir_.file("slow.bin");
        auto launcher = startLauncher("wait-title 30000; flash; call HttpDownload " +
                                      quoted(url("/slow/200000/" + std::to_string(downloadSeconds))) + " " +
                                      quoted(destination) + "; flood " + kind + " " + std::to_string(floodSeconds) +
                                      " 120000; answer 60000; call Hello; answer 30000; pid; sleep 60000; exit 0");
        const std::string pidLine = waitForLine(transcript(), "pid ", 240000);
        EXPECT_FALSE(pidLine.empty()) << "the conversation did not reach its end";
        const int linuxPid = linuxProcessWith(dir_.path());
        EXPECT_NE(linuxPid, 0) << "no Linux process for the launcher";
        const std::uint64_t peak = linuxPid ? peakResidentKiB(linuxPid) : 0;
        EXPECT_TRUE(launcher->started() && processIsRunning(launcher->id())) << "the launcher went down";
        terminateProcessId(std::strtoul(pidLine.c_str() + 4, nullptr, 10)); // the game ends, so does the launcher
        EXPECT_TRUE(launcher->waitForExit(30000));
        EXPECT_EQ(launcher->exitCode(), 1u);
        EXPECT_EQ(readFile(destination).size(), 200000u);
        return peak;
    }

    void expectEveryCallAnswered(const std::string& kind)
    {
        const auto flood = linesStartingWith("flood " + kind);
        ASSERT_EQ(flood.size(), 1u);
        std::smatch counts;
        ASSERT_TRUE(std::regex_search(flood[0], counts, std::regex("written (\\d+) answered (\\d+)"))) << flood[0];
        EXPECT_GT(std::stoi(counts[1]), 0);
        EXPECT_EQ(counts[1], counts[2]) << "every call taken is answered";
        EXPECT_EQ(linesStartingWith("answer "),
                  (std::vector<std::string>{"answer tovin.game.reply onHttpDownloadComplete() from localhost",
                                            "answer tovin.game.reply onUnknownMethod() from localhost"}))
            << readFile(transcript());
    }
};

TEST_F(Flood, NegativeCountArraysDuringASlowDownload)
{
    const std::uint64_t peak = floodDuringDownload("negative", 10, 15);
    expectEveryCallAnswered("negative");
    EXPECT_GT(peak, 0u);
    EXPECT_LT(peak, kPeakLimitKiB);
}

TEST_F(Flood, NullsFor45SecondsDuringASlowDownload)
{
    const std::uint64_t peak = floodDuringDownload("nulls", 45, 50);
    expectEveryCallAnswered("nulls");
    EXPECT_GT(peak, 0u);
    EXPECT_LT(peak, kPeakLimitKiB) << "peak resident KiB";
    std::printf("the launcher's peak resident memory: %llu KiB\n", static_cast<unsigned long long>(peak));
}

} // namespace
