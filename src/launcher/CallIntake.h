// The main thread's side of receiving the game's calls: the launcher's listening
// connection on the hidden window, and the hand-over of each call to the dispatch.
#pragma once

#include "localconnection/FlashLocalConnection.h"
#include "services/LauncherServices.h"

#include <windows.h>

#include <memory>

constexpr UINT kCallMessage = WM_APP + 400; // 0x8190; wParam names a call record the listener holds
constexpr char kLauncherConnectionName[] = "__qel.external.connector__";

class CallIntake {
public:
    // Boxes and dialogs run modal loops that let the next call in while they are open,
    // and that call may open another. Beyond this many calls under way, a call waits
    // (still counted against the listener's bound) until one of them has ended, so that
    // a flood of such calls cannot nest without end and run the main thread out of stack.
    static constexpr int kMaxNestedCalls = 8;

    explicit CallIntake(CLauncherServices& services) : services_(services) {}
    ~CallIntake() { close(); }
    CallIntake(const CallIntake&) = delete;
    CallIntake& operator=(const CallIntake&) = delete;

    // Starts listening: the receive thread posts each call to the window.
    void open(HWND launcherWindow);
    // A call message: when wParam names a record the listener posted and still holds,
    // runs the oldest such record (calls run in the order they came), then destroys
    // it. Any other wParam (forged, broadcast, or a call run already) is ignored. Once
    // the game has ended no call runs.
    void deliver(WPARAM posted, HWND gameWindow);
    // The session is ending: the receive thread is asked to stop, and the calls that
    // wait are dropped without an answer.
    void dropWaitingCalls();
    // Stops the receive thread and frees the listener with the calls it still holds.
    void close();

private:
    void run(std::unique_ptr<CFlashLocalConnectionCall> call, HWND gameWindow);

    CLauncherServices& services_;
    std::unique_ptr<CFlashLocalConnection> listener_;
    int callsUnderWay_ = 0;
    // Calls whose messages came while the most calls were under way: they wait in the
    // listener (still counted against its bound) until a call under way has ended.
    int owed_ = 0;
};
