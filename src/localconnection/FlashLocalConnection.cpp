#include "localconnection/FlashLocalConnection.h"
#include "resources/Texts.h"

#include "localconnection/LockedPass.h"
#include "localconnection/Pauses.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

using namespace texts;
using namespace lc::pauses;
// The pass that takes a last call out of the slot on the way out waits this long at
// most: the launcher ends within a second of the game.
constexpr DWORD kLastPassWaitMs = 200;
constexpr int kMaxCountedFailures = 3;
constexpr int kSendWritten = 999;
constexpr int kSendGivenUp = 998;

constexpr const char* baseName(const char* path)
{
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    return base;
}

} // namespace

CFlashLocalConnection::CFlashLocalConnection(const char* connectionName, HWND window, UINT message)
{
    if (connectionName == nullptr) {
        std::printf(kNullNameAssertion, baseName(__FILE__), __LINE__);
        std::fflush(stdout);
        std::exit(1);
    }
    const std::size_t length = std::strlen(connectionName);
    if (length <= lc::kMaxNameLength) {
        std::memcpy(connectionName_, connectionName, length + 1);
        nameAccepted_ = true;
    }
    window_ = window;
    message_ = message;
}

CFlashLocalConnection* CFlashLocalConnection::listening_ = nullptr;

CFlashLocalConnection::~CFlashLocalConnection()
{
    if (listening_ == this)
        listening_ = nullptr;
}

bool CFlashLocalConnection::registerConnection(lc::SectionView view, lc::BoxQueue& boxes)
{
    if (!nameAccepted_)
        return false;
    const lc::TableScanResult scan = lc::findConnection(view, connectionName_);
    const bool fits = scan.kind == lc::TableScan::Found || (scan.kind == lc::TableScan::EndOfTable &&
                                                            lc::appendConnection(view, scan.offset, connectionName_));
    registered_ = fits;
    if (!fits && scan.kind != lc::TableScan::NoView)
        boxes.add(kRegisteringFailed, kRegisterCaption); // the caller pauses once the mutex is free again
    return fits;
}

bool CFlashLocalConnection::startReceiving()
{
    if (!nameAccepted_ || thread_)
        return true;
    stopEvent_ = UniqueHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    thread_ = UniqueHandle(CreateThread(nullptr, 0, receiveThreadEntry, this, 0, &receiveThreadId_));
    if (thread_ && window_ && message_)
        listening_ = this;
    return true;
}

void CFlashLocalConnection::requestStop()
{
    if (stopEvent_)
        SetEvent(stopEvent_.get());
}

bool CFlashLocalConnection::waitForReceiving(DWORD timeoutMs)
{
    return !thread_ || WaitForSingleObject(thread_.get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD CFlashLocalConnection::receiveExitCode() const
{
    DWORD code = STILL_ACTIVE;
    if (thread_)
        GetExitCodeThread(thread_.get(), &code);
    return code;
}

bool CFlashLocalConnection::pause(DWORD ms)
{
    return WaitForSingleObject(stopEvent_.get(), ms) == WAIT_OBJECT_0;
}

DWORD WINAPI CFlashLocalConnection::receiveThreadEntry(LPVOID connector)
{
    if (!connector)
        return 0;
    return static_cast<DWORD>(static_cast<CFlashLocalConnection*>(connector)->receiveLoop());
}

namespace {

// Holds an SRW lock for one scope.
class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

} // namespace

int CFlashLocalConnection::receiveLoop()
{
    int status = 0;
    while (status == 0) {
        lc::BoxQueue boxes;
        DWORD failurePause = 0; // taken after the pass: never while holding the mutex
        try {
            lc::LockedPass pass(stopEvent_.get());
            if (pass.waitResult() == lc::WaitResult::Interrupted)
                break;
            // No mutex, or a mutex without its section: a Flash Player makes its mutex a
            // moment before its section and closes it a moment after. Not there yet, or
            // not any more: try again later.
            if (pass.waitResult() != lc::WaitResult::Acquired || !pass.map()) {
                failurePause = kNoFlashPlayerMs;
            } else {
                // Every pass: a table rewritten or made anew must not leave us unlisted.
                if (!registerConnection(pass.view(), boxes))
                    failurePause = kAfterRegisterFailedMs;
                receiveFromSlot(pass.view(), boxes);
            }
            lc::reportCleanup(pass.close(), lc::PassSide::Receive, boxes, status);
        } catch (const std::bad_alloc&) {
            // Out of memory ends this pass only; the owners have let go of the section.
        }
        boxes.openAll(); // never waits for the player: the next pass comes all the same
        if ((failurePause && pause(failurePause)) || pause(kAfterReceivePassMs))
            break;
    }
    if (status != 0)
        lc::reportWithoutWaiting(kReceiveCaption, kReceiveThreadEnded);
    else
        dropLastCall();
    return status;
}

void CFlashLocalConnection::dropLastCall()
{
    try {
        lc::LockedPass pass(nullptr, kLastPassWaitMs);
        if (pass.waitResult() == lc::WaitResult::Acquired && pass.map() && lc::messagePresent(pass.view()) &&
            lc::messageIsFor(pass.view(), connectionName_))
            lc::consumeMessage(pass.view());
        static_cast<void>(pass.close());
    } catch (const std::bad_alloc&) {
        // Leaving all the same.
    }
}

bool CFlashLocalConnection::holdsPosted(WPARAM posted) const
{
    ExclusiveLock hold(postedLock_);
    return std::any_of(posted_.begin(), posted_.end(),
                       [posted](const Posted& entry) { return reinterpret_cast<WPARAM>(entry.call.get()) == posted; });
}

std::unique_ptr<CFlashLocalConnectionCall> CFlashLocalConnection::takeOldestPosted()
{
    ExclusiveLock hold(postedLock_);
    if (posted_.empty())
        return nullptr;
    std::unique_ptr<CFlashLocalConnectionCall> call = std::move(posted_.front().call);
    postedBodyBytes_ -= posted_.front().bodyLength;
    posted_.pop_front();
    return call;
}

void CFlashLocalConnection::passOnListenersCall(lc::SectionView view, lc::BoxQueue& boxes)
{
    if (listening_ && lc::messageLength(view) != 0)
        listening_->receiveFromSlot(view, boxes, true);
}

void CFlashLocalConnection::receiveFromSlot(lc::SectionView view, lc::BoxQueue& boxes, bool beyondBound)
{
    if (!lc::messagePresent(view) || !lc::messageIsFor(view, connectionName_))
        return;
    const std::size_t bodyLength = std::min<std::size_t>(lc::messageLength(view), lc::bodyRoom(view));
    const bool delivers = window_ && message_;
    if (delivers && !beyondBound) {
        ExclusiveLock hold(postedLock_);
        if (posted_.size() >= kMaxPendingCalls || postedBodyBytes_ + bodyLength > kMaxPendingBodyBytes)
            return; // taken once the window has caught up
    }
    lc::HeaderProblem problem;
    std::unique_ptr<CFlashLocalConnectionCall> call;
    try {
        call = lc::deserializeRemoteCall(view, &problem);
    } catch (const std::bad_alloc&) {
        // Out of memory ends this call only: it is consumed, without a box.
        lc::consumeMessage(view);
        return;
    }
    lc::consumeMessage(view);
    if (problem.found) {
        char text[128];
        std::snprintf(text, sizeof text, kHeaderNotString, 1, problem.marker);
        boxes.add(text, kDecodeCaption);
    }
    // A record that cannot be held or posted is freed here.
    if (!call || !delivers)
        return;
    const auto address = reinterpret_cast<WPARAM>(call.get());
    {
        ExclusiveLock hold(postedLock_);
        try {
            posted_.push_back({std::move(call), bodyLength});
        } catch (const std::bad_alloc&) {
            return; // this call only
        }
        postedBodyBytes_ += bodyLength;
    }
    if (!PostMessageA(window_, message_, address, 0)) {
        // Never posted: nobody will ask for it. The newest record is this one.
        ExclusiveLock hold(postedLock_);
        if (!posted_.empty() && reinterpret_cast<WPARAM>(posted_.back().call.get()) == address) {
            postedBodyBytes_ -= posted_.back().bodyLength;
            posted_.pop_back();
        }
    }
}

bool CFlashLocalConnection::send(const char* methodName, const CFlashLocalConnectionCall* call, ULONGLONG timeLimitMs,
                                 HANDLE giveUp)
{
    // A pause that ends early, with the send, once `giveUp` is signalled.
    const auto pauseUnlessGivenUp = [giveUp](DWORD ms) {
        if (!giveUp) {
            Sleep(ms);
            return false;
        }
        return WaitForSingleObject(giveUp, ms) == WAIT_OBJECT_0;
    };
    if (!nameAccepted_ || !methodName)
        return false;
    int status = 0;
    int failures = 0;
    const ULONGLONG start = GetTickCount64();
    while (status == 0 && failures < kMaxCountedFailures) {
        // A slot that nobody empties must not hold the main thread for ever.
        if (GetTickCount64() - start >= timeLimitMs)
            return false;
        lc::BoxQueue boxes;
        DWORD failurePause = 0; // taken after the pass: never while holding the mutex
        {
            lc::LockedPass pass(giveUp);
            switch (pass.waitResult()) {
            case lc::WaitResult::Acquired:
                break;
            case lc::WaitResult::Interrupted:
                return false;
            case lc::WaitResult::Abandoned:
                lc::report(kSendCaption, kSendWaitAbandoned);
                [[fallthrough]];
            case lc::WaitResult::TimedOut:
                if (pauseUnlessGivenUp(kSendAfterFailedWaitMs) || pauseUnlessGivenUp(kAfterSendAttemptMs))
                    return false;
                continue;
            case lc::WaitResult::Failed:
                ++failures;
                if (pauseUnlessGivenUp(kSendNoMutexMs) || pauseUnlessGivenUp(kAfterSendAttemptMs))
                    return false;
                continue;
            }
            if (!pass.map()) {
                boxes.add(kSendMapFailed, kSendCaption);
                status = -1;
            } else {
                const lc::SectionView view = pass.view();
                if (lc::findConnection(view, connectionName_).kind != lc::TableScan::Found) {
                    boxes.add(kSendNoRecipient, kSendCaption);
                    ++failures;
                    failurePause = kSendNoRecipientMs;
                } else {
                    passOnListenersCall(view, boxes);
                    switch (lc::writeCall(view, connectionName_, methodName, call, GetTickCount())) {
                    case lc::WriteOutcome::Written:
                        status = kSendWritten;
                        break;
                    case lc::WriteOutcome::TooLarge:
                        status = kSendGivenUp; // it would never fit: give up silently
                        break;
                    case lc::WriteOutcome::SlotBusy:
                        break;
                    }
                }
            }
            lc::reportCleanup(pass.close(), lc::PassSide::Send, boxes, status);
        }
        boxes.showAll();
        if (pauseUnlessGivenUp(failurePause) || pauseUnlessGivenUp(kAfterSendAttemptMs))
            break;
    }
    return status == kSendWritten;
}
