// The remote methods the game may call on the launcher, and their dispatch.
// One instance, owned by the launcher; everything here runs on the main thread.
#pragma once

#include "display/DisplayCalls.h"
#include "download/Reask.h"
#include "localconnection/FlashLocalConnectionCall.h"
#include "win/ThreadWait.h"
#include "win/WinHandles.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

class CFlashLocalConnection;
class Transfer;

class CLauncherServices {
public:
    CLauncherServices();
    // Puts back a display mode that a switch changed.
    ~CLauncherServices();
    CLauncherServices(const CLauncherServices&) = delete;
    CLauncherServices& operator=(const CLauncherServices&) = delete;

    // Runs the service named by the call; the caller keeps the record.
    void dispatch(CFlashLocalConnectionCall* call, HWND gameWindow);

    // The game the services work for (not owned; null when none).
    void workFor(HANDLE gameProcess) { gameProcess_ = gameProcess; }
    // The listening connector (not owned), whose window's thread runs the services: their
    // waits serve its messages but the calls, and their answers pass its calls on.
    void serveFor(CFlashLocalConnection* listener) { listener_ = listener; }
    // True once the game has ended or the session has: from then on nothing is
    // answered, and every wait of a service ends.
    bool hasEnded() const;
    // Signalled once the game has ended (markEnded) or the session has (endSession).
    HANDLE endedEvent() const { return ended_.get(); }
    // Called as soon as the game's end is known: the services' waits end at once.
    void markEnded() { SetEvent(ended_.get()); }
    // The log-off or shutdown is under way, and the process may be ended as soon as
    // this returns: puts the display mode back, abandons the download under way (its
    // partial file deleted, its destination untouched; a copy over it that has begun is
    // let finish) and answers nothing from now on. A call under way that this
    // interrupts (it runs inside one of its waits) ends without an answer.
    void endSession();
    // Whether endSession has run: the session is ending, and the game may still be running.
    bool sessionEnded() const { return sessionEnded_; }
    // How the services' waits wait: serving the window's messages but the calls.
    win::ThreadWait threadWait() const;

    // Calls `method` on the game's reply connection with these values, in this order;
    // nothing once the game has ended, since no Flash Player is left to take it.
    void sendAnswer(const std::string& replyName, const char* method, std::vector<AmfValuePtr> values = {});

    // Puts every display device that a switch changed back to its mode from before.
    void RestoreDisplayMode();
    // What the display switch calls (tests stand in for a desktop); outlives the process.
    void setDisplayCalls(const DisplayCalls& calls) { displayCalls_ = &calls; }

    // The download's bounds, and what tests stand in for: they shorten every limit, slow
    // or fail the copy over the destination, and give two downloads one partial file name.
    struct DownloadTimings {
        reask::Limits fetch; // the worker's own bounds: it ends a silent request itself
        // The main thread's stall limit is the last resort above the worker's bounds: it gives up
        // on a worker that showed no sign of life for longer than the worker can be quiet,
        // and a little more, so that the worker's own limits always come first.
        static constexpr DWORD kStallGraceMs = 5000;
        DWORD stallGraceMs = kStallGraceMs;
        DWORD stallLimitMs() const { return fetch.longestQuietMs() + stallGraceMs; }
        BOOL(WINAPI* copyWrite)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) = nullptr; // WriteFile
        UINT(WINAPI* nameMaker)(LPCWSTR, LPCWSTR, UINT, LPWSTR) = nullptr;                // GetTempFileNameW
    };
    void setDownloadTimings(const DownloadTimings& timings) { downloadTimings_ = timings; }

    // One handler per row of the method table, named after its method: the call (its
    // reply name still first), the reply name and the game's window.
#define TOVIN_METHOD(name, answers, serveDefault)                                                                      \
    void name(CFlashLocalConnectionCall* call, const std::string& replyName, HWND gameWindow);
#include "services/Methods.def"

private:
    // Takes the download's transfer into this object's keeping and returns it.
    Transfer& keep(std::unique_ptr<Transfer> transfer);
    // Frees the transfers whose worker has ended.
    void releaseEndedTransfers();

    const DisplayCalls* displayCalls_ = &systemDisplayCalls();
    SavedDisplays savedDisplayModes_;
    HANDLE gameProcess_ = nullptr;
    CFlashLocalConnection* listener_ = nullptr;
    UniqueHandle ended_;
    bool sessionEnded_ = false;
    DownloadTimings downloadTimings_;
    // Every transfer is owned here until its handler is done with it and its worker has
    // ended, so that a worker left behind by an abandoned download never uses a freed
    // one. At most one fetches at a time: calls wait while a download runs.
    std::vector<std::unique_ptr<Transfer>> transfers_;
};

// A directory without a colon is taken under the current directory.
std::string MakeAbsoluteDirectory(const std::string& directory);

// The argument-count boxes of the services (caption "Alert", no icon).
void showCountAlert(const char* format, int count);
