// One LocalConnection endpoint of the launcher. A listening connector registers its
// name in the Flash Player's listener table from its receive thread and posts every
// call addressed to it to its window; a connector without window only sends.
#pragma once

#include "localconnection/FlashLocalConnectionCall.h"
#include "localconnection/LockedPass.h"
#include "localconnection/WinHandles.h"

#include <windows.h>

#include <atomic>

class CFlashLocalConnection {
public:
    // A name longer than 255 bytes is refused: the connector then never registers,
    // receives or sends. A null name ends the process with exit code 1.
    CFlashLocalConnection(const char* connectionName, HWND window, UINT message);
    // Changes nothing in the section (the name stays in the table). A running receive
    // thread must have been stopped and waited for first (requestStop, waitForReceiving).
    ~CFlashLocalConnection() = default;
    // The receive thread uses this object's address.
    CFlashLocalConnection(const CFlashLocalConnection&) = delete;
    CFlashLocalConnection& operator=(const CFlashLocalConnection&) = delete;

    const char* name() const { return connectionName_; }
    bool isRegistered() const { return registered_; }

    // Inside a locked pass: makes sure the name is in the listener table.
    bool registerConnection();
    // Starts the receive thread (not for a refused name, nor twice); answers true whatever happened.
    bool startReceiving();
    // Asks the receive thread to end after its current pass.
    void requestStop();
    // True when the receive thread has ended (or never ran) within the time.
    bool waitForReceiving(DWORD timeoutMs);
    // The receive thread's exit code, or STILL_ACTIVE.
    DWORD receiveExitCode() const;

    // How long a send may keep trying before it gives up without writing.
    static constexpr ULONGLONG kSendTimeLimitMs = 10000;

    // Calls `methodName` on the connection of this connector's name with the record's
    // arguments; blocks until written or given up (after `timeLimitMs` at the most).
    // Failures are shown in boxes only.
    void send(const char* methodName, const CFlashLocalConnectionCall* call, ULONGLONG timeLimitMs = kSendTimeLimitMs);

private:
    static DWORD WINAPI receiveThreadEntry(LPVOID connector);
    int receiveLoop();
    void receiveFromSlot(lc::SectionView view, lc::BoxQueue& boxes);
    // Waits on the stop request; true when stop was asked.
    bool pause(DWORD ms);

    char connectionName_[256] = {};
    bool nameAccepted_ = false;
    lc::SectionView view_;
    DWORD receiveThreadId_ = 0;
    bool registered_ = false;
    UINT message_ = 0;
    HWND window_ = nullptr;
    lc::BoxQueue* passBoxes_ = nullptr;  // the boxes of the pass under way
    UniqueHandle thread_;
    UniqueHandle stopEvent_;
};
