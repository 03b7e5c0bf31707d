// One LocalConnection endpoint of the launcher. A listening connector registers its
// name in the Flash Player's listener table from its receive thread and posts every
// call addressed to it to its window; a connector without window only sends. A sending
// connector is named after its recipient, not after the sender: `send` writes to the
// connection of the connector's own name.
#pragma once

#include "localconnection/BoxQueue.h"
#include "localconnection/FlashLocalConnectionCall.h"
#include "localconnection/SectionLayout.h"
#include "win/ThreadWait.h"
#include "win/WinHandles.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

class CFlashLocalConnection;

// How a send goes about it.
struct SendOptions {
    // How long a send may keep trying before it gives up without writing.
    static constexpr ULONGLONG kDefaultTimeLimitMs = 10000;
    // A send gives up after this many counted failures (no mutex, no recipient), each
    // reported and followed by its pause.
    static constexpr int kMaxCountedFailures = 3;

    // This process's listening connector, if any. A call for it that holds the slot is
    // taken out and passed on, so that an answer never waits behind a call that the
    // listener leaves in the slot (it may be at its bound because its window is busy
    // with the very call whose answer this is). The send then waits as the listener's
    // window's thread must: serving every message but the call message.
    CFlashLocalConnection* listener = nullptr;
    // Signalled (the game's end, the session's end): the send gives up at once.
    HANDLE giveUp = nullptr;
    ULONGLONG timeLimitMs = kDefaultTimeLimitMs;
};

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
    // Starts the receive thread (not for a refused name, nor twice). Nothing to answer: a
    // connector that does not receive shows it by never registering.
    void startReceiving();
    // Asks the receive thread to end: a wait for the mutex ends at once, a pass under way
    // ends first. A call for us still in the slot is then taken out and dropped.
    void requestStop();
    // True when the receive thread has ended (or never ran) within the time.
    bool waitForReceiving(DWORD timeoutMs);
    // Asks the receive thread to end and waits for it as `wait` waits. False when it has
    // not ended in time: it still uses this object, which must then outlive it (the
    // caller leaks it, or ends the process).
    bool stopReceiving(DWORD timeoutMs, const win::ThreadWait& wait = win::ThreadWait());
    // The receive thread, to wait on (null when none runs).
    HANDLE receiveThread() const { return thread_.get(); }
    // The receive thread's exit code, or STILL_ACTIVE.
    DWORD receiveExitCode() const;
    // Receive passes ended so far. Whoever must know that the slot has been looked at
    // since a moment waits for two more (the pass under way may have begun before).
    std::uint64_t receivePasses() const { return passes_.load(); }

    // The records posted to the window wait here until the window takes them: the call
    // message carries a record's address, and only an address that names a record still
    // held here is believed (a message can come from any program). At the bound the next
    // call addressed to us stays in the slot, untouched, until the window has caught up
    // (a sender waits while the slot is busy). A game waits for each answer before its
    // next call, so a thousand is far beyond any game's need, while each held call has
    // its message in the window's queue, which Windows caps at 10,000 for all comers.
    static constexpr std::size_t kMaxPendingCalls = 1000;
    // A decoded body takes at most kMaxHeapPerBodyByte (amf/AmfReader.h) heap bytes per
    // body byte: 1 MiB of bodies keeps the decoded calls waiting for the window under 64 MiB.
    static constexpr std::size_t kMaxPendingBodyBytes = 1024 * 1024;
    // Whether a call message's wParam names a record this connector posted and holds.
    bool holdsPosted(WPARAM posted) const;
    // Takes the oldest record held (records are taken in the order they were posted), or
    // null. Taken before the call runs: its answer needs the slot, so a call under way
    // must not keep the next one waiting there.
    std::unique_ptr<CFlashLocalConnectionCall> takeOldestPosted();

    // Calls `methodName` on the connection of this connector's name with the record's
    // arguments; blocks until written or given up (see SendOptions). Failures are
    // reported (lc::report); the result tells whether the call was written.
    bool send(const char* methodName, const CFlashLocalConnectionCall* call, const SendOptions& options = {});

    // How the thread of this connector's window waits: serving every message but the
    // call message (a plain wait for a connector without window).
    win::ThreadWait windowThreadWait() const;

    // For tests: what posts the call message, standing in for a window's queue that is
    // full (PostMessageA fails at 10,000 messages on Windows). Set before receiving.
    using Poster = BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM);
    void setPoster(Poster poster) { post_ = poster; }

private:
    static DWORD WINAPI receiveThreadEntry(LPVOID connector);
    int receiveLoop();
    // `beyondBound`: taken even when the window is at its bound of pending calls.
    void receiveFromSlot(lc::SectionView view, lc::BoxQueue& boxes, bool beyondBound = false);
    // What one attempt of a send came to, apart from how its pass's clean-up went.
    enum class SendOutcome {
        TryAgain, // not written yet: another attempt follows, after a pause
        Written,
        GivenUp, // never to be written: told to stop, no view, too large, a broken pass
    };
    // One attempt of a send: one locked pass, and what comes of it.
    struct Attempt {
        SendOutcome outcome = SendOutcome::TryAgain;
        DWORD pauseMs = 0;    // before the next attempt, besides the usual pause
        bool counted = false; // one of the failures after which the send gives up
    };
    Attempt attemptSend(const char* methodName, const CFlashLocalConnectionCall* call, const SendOptions& options,
                        lc::BoxQueue& boxes);
    // Posts the call message for each record held but not yet announced (its post
    // failed: the window's queue was full), oldest first, until a post fails again.
    void announcePosted();
    // Waits on the stop request; true when stop was asked.
    bool pause(DWORD ms);
    // On the way out after a stop: a call addressed to us that is still in the slot
    // (left there at the bound of pending calls) is taken out and dropped, so that it
    // does not block the slot for every LocalConnection once we have gone.
    void dropLastCall();
    struct Posted {
        std::unique_ptr<CFlashLocalConnectionCall> call;
        std::size_t bodyLength;
        bool announced; // its call message is in the window's queue
    };
    // Records the window has not taken yet, oldest first; the lock guards them between
    // the receive thread (and a send's pass on the main thread) and the window.
    mutable SRWLOCK postedLock_ = SRWLOCK_INIT;
    std::deque<Posted> posted_;
    std::size_t postedBodyBytes_ = 0;
    std::size_t unannounced_ = 0;
    Poster post_ = PostMessageA;

    char connectionName_[256] = {};
    bool nameAccepted_ = false;
    DWORD receiveThreadId_ = 0;
    std::atomic<bool> registered_{false};
    std::atomic<std::uint64_t> passes_{0};
    UINT message_ = 0;
    HWND window_ = nullptr;
    UniqueHandle thread_;
    UniqueHandle stopEvent_;
};
