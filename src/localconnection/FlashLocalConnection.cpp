#include "localconnection/FlashLocalConnection.h"
#include "resources/Texts.h"

#include "localconnection/LockedPass.h"
#include "localconnection/Pauses.h"
#include "win/CrashStack.h"

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

CFlashLocalConnection::~CFlashLocalConnection() = default;

win::ThreadWait CFlashLocalConnection::windowThreadWait() const
{
    return window_ && message_ ? win::ThreadWait::servingAllBut(message_) : win::ThreadWait();
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

void CFlashLocalConnection::startReceiving()
{
    if (!nameAccepted_ || thread_)
        return;
    stopEvent_ = UniqueHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    thread_ = UniqueHandle(CreateThread(nullptr, 0, receiveThreadEntry, this, 0, &receiveThreadId_));
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

bool CFlashLocalConnection::stopReceiving(DWORD timeoutMs, const win::ThreadWait& wait)
{
    requestStop();
    return !thread_ || wait.forOne(thread_.get(), timeoutMs) == WAIT_OBJECT_0;
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
    win::keepStackForCrash();
    return static_cast<DWORD>(static_cast<CFlashLocalConnection*>(connector)->receiveLoop());
}

int CFlashLocalConnection::receiveLoop()
{
    lc::CleanupStatus status = lc::CleanupStatus::Clean;
    while (status == lc::CleanupStatus::Clean) {
        announcePosted(); // before taking more: the window's queue may have room again
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
            status = lc::reportCleanup(pass.close(), lc::PassSide::Receive, boxes);
        } catch (const std::bad_alloc&) {
            // Out of memory ends this pass only; the owners have let go of the section.
        }
        boxes.openAll(); // never waits for the player: the next pass comes all the same
        ++passes_;
        if ((failurePause && pause(failurePause)) || pause(kAfterReceivePassMs))
            break;
    }
    if (status != lc::CleanupStatus::Clean)
        lc::reportWithoutWaiting(kReceiveCaption, kReceiveThreadEnded);
    else
        dropLastCall();
    return static_cast<int>(status);
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

void CFlashLocalConnection::announcePosted()
{
    ExclusiveLock hold(postedLock_);
    for (auto entry = posted_.begin(); unannounced_ > 0 && entry != posted_.end(); ++entry) {
        if (entry->announced)
            continue;
        if (!post_(window_, message_, reinterpret_cast<WPARAM>(entry->call.get()), 0))
            return;
        entry->announced = true;
        --unannounced_;
    }
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
    {
        ExclusiveLock hold(postedLock_);
        try {
            posted_.push_back({std::move(call), bodyLength, false});
        } catch (const std::bad_alloc&) {
            return; // this call only
        }
        postedBodyBytes_ += bodyLength;
        ++unannounced_;
    }
    // A window whose queue is full refuses the post: the record stays held, and the
    // message is posted again by the next pass. The call is answered late, never lost.
    announcePosted();
}

bool CFlashLocalConnection::send(const char* methodName, const CFlashLocalConnectionCall* call,
                                 const SendOptions& options)
{
    if (!nameAccepted_ || !methodName)
        return false;
    const win::ThreadWait wait = options.listener ? options.listener->windowThreadWait() : win::ThreadWait();
    int failures = 0;
    const ULONGLONG start = GetTickCount64();
    // A slot that nobody empties must not hold the main thread for ever.
    while (failures < SendOptions::kMaxCountedFailures && GetTickCount64() - start < options.timeLimitMs) {
        lc::BoxQueue boxes;
        const Attempt attempt = attemptSend(methodName, call, options, boxes);
        boxes.showAll();
        if (attempt.outcome != SendOutcome::TryAgain)
            return attempt.outcome == SendOutcome::Written;
        if (attempt.counted)
            ++failures;
        // One pause between attempts, the longer ones after a failure; the send gives up as
        // soon as it is told to.
        if (wait.forAny({options.giveUp}, attempt.pauseMs + kBetweenSendAttemptsMs) == WAIT_OBJECT_0)
            return false;
    }
    return false;
}

CFlashLocalConnection::Attempt CFlashLocalConnection::attemptSend(const char* methodName,
                                                                  const CFlashLocalConnectionCall* call,
                                                                  const SendOptions& options, lc::BoxQueue& boxes)
{
    lc::LockedPass pass(options.giveUp, lc::kMutexWaitMs,
                        options.listener ? options.listener->windowThreadWait() : win::ThreadWait());
    switch (pass.waitResult()) {
    case lc::WaitResult::Interrupted:
        return {SendOutcome::GivenUp};
    case lc::WaitResult::Abandoned:
        boxes.add(kSendWaitAbandoned, kSendCaption); // the pass gave the mutex back already
        return {SendOutcome::TryAgain, kSendAfterFailedWaitMs};
    case lc::WaitResult::TimedOut:
        return {SendOutcome::TryAgain, kSendAfterFailedWaitMs};
    case lc::WaitResult::Failed: // no mutex: no Flash Player
        return {SendOutcome::TryAgain, kSendNoMutexMs, true};
    case lc::WaitResult::Acquired:
        break;
    }
    Attempt attempt;
    if (!pass.map()) {
        boxes.add(kSendMapFailed, kSendCaption);
        attempt.outcome = SendOutcome::GivenUp;
    } else if (lc::findConnection(pass.view(), connectionName_).kind != lc::TableScan::Found) {
        boxes.add(kSendNoRecipient, kSendCaption);
        attempt = {SendOutcome::TryAgain, kSendNoRecipientMs, true};
    } else {
        if (options.listener && lc::messageLength(pass.view()) != 0)
            options.listener->receiveFromSlot(pass.view(), boxes, true); // one per answer: still bounded
        switch (lc::writeCall(pass.view(), connectionName_, methodName, call, GetTickCount())) {
        case lc::WriteOutcome::Written:
            attempt.outcome = SendOutcome::Written;
            break;
        case lc::WriteOutcome::TooLarge:
            attempt.outcome = SendOutcome::GivenUp; // it would never fit: give up silently
            break;
        case lc::WriteOutcome::SlotBusy:
            break;
        }
    }
    // A pass that cannot let go cleanly ends the send; a message it wrote stays written.
    if (lc::reportCleanup(pass.close(), lc::PassSide::Send, boxes) != lc::CleanupStatus::Clean &&
        attempt.outcome == SendOutcome::TryAgain)
        attempt.outcome = SendOutcome::GivenUp;
    return attempt;
}
