// The remote methods the game may call on the launcher, and their dispatch.
// One instance, owned by the launcher; everything here runs on the main thread.
#pragma once

#include "localconnection/FlashLocalConnectionCall.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

class CLauncherServices {
public:
    CLauncherServices() = default;
    // Puts back a display mode that a switch changed.
    ~CLauncherServices();
    CLauncherServices(const CLauncherServices&) = delete;
    CLauncherServices& operator=(const CLauncherServices&) = delete;

    // Runs the service named by the call; the caller keeps the record.
    void dispatch(CFlashLocalConnectionCall* call, HWND gameWindow);

    // The game the services work for (not owned; null when none is watched). A service
    // that waits (the download) ends its wait when the game ends.
    void watchGame(HANDLE gameProcess) { gameProcess_ = gameProcess; }
    HANDLE gameProcess() const { return gameProcess_; }
    // True once the watched game has ended: from then on nothing is answered.
    bool gameHasEnded() const;

    // Calls `method` on the game's reply connection with these values, in this order;
    // nothing once the game has ended, since no Flash Player is left to take it.
    void sendAnswer(const std::string& replyName, const char* method, std::vector<AmfValuePtr> values = {});

    void BrowseFile(CFlashLocalConnectionCall* call, const std::string& replyName, HWND gameWindow);
    void BrowseFileToSave(CFlashLocalConnectionCall* call, const std::string& replyName, HWND gameWindow);
    void HttpDownload(CFlashLocalConnectionCall* call, const std::string& replyName, HWND gameWindow);
    void ScreenResolutionEnable(CFlashLocalConnectionCall* call, const std::string& replyName, HWND gameWindow);
    void RestoreDisplayMode();

private:
    std::unique_ptr<DEVMODEA> savedDisplayMode_;
    HANDLE gameProcess_ = nullptr;
};

// A directory without a colon is taken under the current directory.
std::string MakeAbsoluteDirectory(const std::string& directory);

// The argument-count boxes of the services (caption "Alert", no icon).
void showCountAlert(const char* format, int count);
