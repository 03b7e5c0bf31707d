// A test folder holding the real launcher and the stand-in game, and the game's transcript.
#pragma once

#include "support/WinProcess.h"

#include <gtest/gtest.h>

#include <memory>

constexpr DWORD kLongWait = 30000; // Wine's first user32 call can take seconds

// The display's width and height, as "800x600".
inline std::string currentMode()
{
    DEVMODEA mode = {};
    mode.dmSize = sizeof mode;
    EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode);
    return std::to_string(mode.dmPelsWidth) + "x" + std::to_string(mode.dmPelsHeight);
}

// A text as a quoted string of the stand-in game's scenarios.
inline std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

class LauncherFixture : public ::testing::Test {
protected:
    void SetUp() override { dir_.copyFromBuild("TovinLauncher.exe"); }

    void installGame() const { dir_.copyFromBuild("tovin.dll"); }

    std::unique_ptr<ChildProcess> startLauncher(const std::string& scenario, const std::string& windows = "1",
                                                const std::string& arguments = "",
                                                std::map<std::string, std::string> environment = {}) const
    {
        environment["TOVIN_SCENARIO"] = scenario;
        environment["TOVIN_WINDOWS"] = windows;
        environment["TOVIN_TRANSCRIPT"] = transcript();
        auto launcher =
            std::make_unique<ChildProcess>(dir_.file("TovinLauncher.exe"), arguments, dir_.path(), environment);
        EXPECT_TRUE(launcher->started());
        return launcher;
    }

    // Runs a whole conversation: the game's scenario, then the launcher's end.
    std::vector<std::string> converse(const std::string& scenario) const
    {
        installGame();
        auto launcher = startLauncher("wait-title 30000; flash; " + scenario);
        EXPECT_TRUE(launcher->waitForExit(120000));
        EXPECT_EQ(launcher->exitCode(), 1u);
        return readLines(transcript());
    }

    std::string transcript() const { return dir_.file("transcript.txt"); }

    std::vector<std::string> linesStartingWith(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const auto& line : readLines(transcript()))
            if (line.rfind(prefix, 0) == 0)
                found.push_back(line);
        return found;
    }

    TempDir dir_;
};
