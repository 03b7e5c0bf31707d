// One LocalConnection endpoint of the launcher. A listening connector registers its
// name in the Flash Player's listener table from its receive thread and posts every
// call addressed to it to its window; a connector without window only sends. A sending
// connector is named after its recipient, not after the sender: `send` writes to the
// connection of the connector's own name.
#pragma once

#include "localconnection/BoxQueue.h"
#include "localconnection/FlashLocalConnectionCall.h"
#include "localconnection/SectionLayout.h"
#include "win/WinHandles.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

class CFlashLocalConnection {
public:
    // A name longer than 255 bytes is refused: the connector then never registers,
    // receives or sends. A null name ends the process with exit code 1.
    CFlashLocalConnection(const char* connectionName, HWND window, UINT message);
    // Changes nothing in the section (the name stays in the table). A running receive
    // thread must have been stopped and waited for first (requestStop, waitForReceiving).
    ~CFlashLocalConnection();
    // The receive thread uses this object's address.
    CFlashLocalConnection(const CFlashLocalConnection&) = delete;
    CFlashLocalConnection& operator=(const CFlashLocalConnection&) = delete;

    const char* name() const { return connectionName_; }
    // Set by the receive thread; readable from any thread.
    bool isRegistered() const { return registered_.load(); }

    // Inside a locked pass, on its view: makes sure the name is in the listener table.
    // A full table queues its report in the pass's boxes; the caller pauses after the pass.
    bool registerConnection(lc::SectionView view, lc::BoxQueue& boxes);
    // Starts the receive thread (not for a refused name, nor twice); answers true whatever happened.
    bool startReceiving();
    // Asks the receive thread to end: a wait for the mutex ends at once, a pass under way
    // ends first. A call for us still in the slot is then taken out and dropped.
    void requestStop();
    // True when the receive thread has ended (or never ran) within the time.
    bool waitForReceiving(DWORD timeoutMs);
    // The receive thread's exit code, or STILL_ACTIVE.
    DWORD receiveExitCode() const;

    // The records posted to the window wait here until the window takes them: the call
    // message carries a record's address, and only an address that names a record still
    // held here is believed (a message can come from any program). At the bound the next
    // call addressed to us stays in the slot, untouched, until the window has caught up
    // (a sender waits while the slot is busy).
    static constexpr std::size_t kMaxPendingCalls = 1000;
    // A decoded body takes at most 64 heap bytes per body byte: 1 MiB of bodies keeps the
    // decoded calls waiting for the window under 64 MiB.
    static constexpr std::size_t kMaxPendingBodyBytes = 1024 * 1024;
    // Whether a call message's wParam names a record this connector posted and holds.
    bool holdsPosted(WPARAM posted) const;
    // Takes the oldest record held (records are taken in the order they were posted), or
    // null. Taken before the call runs: its answer needs the slot, so a call under way
    // must not keep the next one waiting there.
    std::unique_ptr<CFlashLocalConnectionCall> takeOldestPosted();

    // How long a send may keep trying before it gives up without writing.
    static constexpr ULONGLONG kSendTimeLimitMs = 10000;

    // Calls `methodName` on the connection of this connector's name with the record's
    // arguments; blocks until written or given up (after `timeLimitMs` at the most, or
    // once `giveUp`, a waitable object such as the game's process, is signalled).
    // Failures are reported (lc::report); the result tells whether the call was written.
    bool send(const char* methodName, const CFlashLocalConnectionCall* call, ULONGLONG timeLimitMs = kSendTimeLimitMs,
              HANDLE giveUp = nullptr);

private:
    static DWORD WINAPI receiveThreadEntry(LPVOID connector);
    int receiveLoop();
    // `beyondBound`: taken even when the window is at its bound of pending calls.
    void receiveFromSlot(lc::SectionView view, lc::BoxQueue& boxes, bool beyondBound = false);
    // Inside a send's pass: a call for this process's listener that holds the slot is
    // taken out and passed on, so that an answer never waits behind a call that its
    // receive thread leaves in the slot (the listener may be at its bound because the
    // window is busy with the very call whose answer this is). One per written answer:
    // the window's pending calls stay bounded.
    static void passOnListenersCall(lc::SectionView view, lc::BoxQueue& boxes);
    // Waits on the stop request; true when stop was asked.
    bool pause(DWORD ms);
    // On the way out after a stop: a call addressed to us that is still in the slot
    // (left there at the bound of pending calls) is taken out and dropped, so that it
    // does not block the slot for every LocalConnection once we have gone.
    void dropLastCall();
    struct Posted {
        std::unique_ptr<CFlashLocalConnectionCall> call;
        std::size_t bodyLength;
    };
    // Records the window has not taken yet, oldest first; the lock guards them between
    // the receive thread (and a send's pass on the main thread) and the window.
    mutable SRWLOCK postedLock_ = SRWLOCK_INIT;
    std::deque<Posted> posted_;
    std::size_t postedBodyBytes_ = 0;

    char connectionName_[256] = {};
    bool nameAccepted_ = false;
    DWORD receiveThreadId_ = 0;
    std::atomic<bool> registered_{false};
    UINT message_ = 0;
    HWND window_ = nullptr;
    // The connector with a window and a receive thread, if any; used by sends on the
    // same (main) thread that creates and destroys it.
    static CFlashLocalConnection* listening_;
    UniqueHandle thread_;
    UniqueHandle stopEvent_;
};
