#include "localconnection/FlashLocalConnection.h"

#include "localconnection/LockedPass.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

constexpr char kReceiveCaption[] = "LocalCOnnection"; // the capital O is what players have always seen: keep it
constexpr char kRegisterCaption[] = "LocalConnection";
constexpr char kDecodeCaption[] = "deserializeRemoteCall";
constexpr char kSendCaption[] = "LocalConnection:call";
constexpr DWORD kPassPauseMs = 10;
constexpr DWORD kNoPassPauseMs = 500;
constexpr DWORD kMissingMutexPauseMs = 200;
constexpr DWORD kNoRecipientPauseMs = 100;
constexpr DWORD kRegisterFailedPauseMs = 500;
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

// The texts and statuses with which each side reports its failed clean-up steps.
struct CleanupTexts {
    const char* caption;
    const char* unmap;
    const char* closeSection;
    const char* release;
    const char* closeMutex;
};

constexpr CleanupTexts kReceiveCleanup = {kReceiveCaption, "UnmapViewOfFile failed", "CloseHandle failed",
                                          "ReleaseMutex failed", "CloseHandle failed"};
constexpr CleanupTexts kSendCleanup = {kSendCaption, "UnmapViewOfFile failed", "Close handle Failed",
                                       "Release Mutex Failed", "Close Handle Failed"};

// Queues one box per failed step; the status becomes that of the last failure.
void reportCleanup(const lc::CleanupFailures& failed, const CleanupTexts& texts, lc::BoxQueue& boxes, int& status)
{
    const struct {
        bool failed;
        const char* text;
        int status;
    } steps[] = {{failed.unmap, texts.unmap, -2},
                 {failed.closeSection, texts.closeSection, -3},
                 {failed.release, texts.release, 1},
                 {failed.closeMutex, texts.closeMutex, 2}};
    for (const auto& step : steps) {
        if (step.failed) {
            boxes.add(step.text, texts.caption);
            status = step.status;
        }
    }
}

} // namespace

CFlashLocalConnection::CFlashLocalConnection(const char* connectionName, HWND window, UINT message)
{
    if (connectionName == nullptr) {
        std::printf("Assertion failed (connectionName != NULL) at %s (%d)", baseName(__FILE__), __LINE__);
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
    if (!fits) {
        if (scan.kind == lc::TableScan::NoView)
            return false;
        boxes.add("Registering failed", kRegisterCaption);
        return false; // the caller pauses once the mutex is free again
    }
    registered_ = true;
    return true;
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

int CFlashLocalConnection::receiveLoop()
{
    int status = 0;
    while (status == 0) {
        lc::BoxQueue boxes;
        DWORD failurePause = 0; // taken after the pass: never while holding the mutex
        try {
            lc::LockedPass pass;
            if (pass.waitResult() != lc::WaitResult::Acquired) {
                if (pause(kNoPassPauseMs) || pause(kPassPauseMs))
                    break;
                continue;
            }
            if (!pass.map()) {
                boxes.add("MapViewOfFile failed", kReceiveCaption);
                status = -1;
            } else {
                if (!registered_ && !registerConnection(pass.view(), boxes))
                    failurePause = kRegisterFailedPauseMs;
                receiveFromSlot(pass.view(), boxes);
            }
            reportCleanup(pass.close(), kReceiveCleanup, boxes, status);
        } catch (const std::bad_alloc&) {
            // Out of memory ends this pass only; the owners have let go of the section.
        }
        boxes.showAll();
        if ((failurePause && pause(failurePause)) || pause(kPassPauseMs))
            break;
    }
    if (status != 0)
        lc::report(kReceiveCaption, "Sortie de la routine du thread");
    return status;
}

void CFlashLocalConnection::callTaken(std::uint32_t bodyLength)
{
    pendingBodyBytes_ -= bodyLength;
    --pendingCalls_;
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
    const auto bodyLength =
        static_cast<std::uint32_t>(std::min<std::size_t>(lc::messageLength(view), lc::bodyRoom(view)));
    if (window_ && message_ && !beyondBound &&
        (pendingCalls_ >= kMaxPendingCalls || pendingBodyBytes_ + bodyLength > kMaxPendingBodyBytes))
        return; // taken once the window has caught up
    lc::HeaderProblem problem;
    std::unique_ptr<CFlashLocalConnectionCall> call;
    try {
        call = lc::deserializeRemoteCall(view, &problem);
    } catch (const std::bad_alloc&) {
        // Out of memory ends this call only: it is consumed, without a box.
        lc::consumeMessage(view);
        return;
    }
    if (problem.found) {
        char text[128];
        std::snprintf(text, sizeof text, "Parametre %i de type non String : %i", 1, problem.marker);
        boxes.add(text, kDecodeCaption);
    }
    // The record belongs to the window once posted; one that cannot be posted is freed here.
    if (call && window_ && message_) {
        pendingBodyBytes_ += bodyLength;
        ++pendingCalls_;
        if (PostMessageA(window_, message_, reinterpret_cast<WPARAM>(call.get()), static_cast<LPARAM>(bodyLength)))
            static_cast<void>(call.release());
        else
            callTaken(bodyLength);
    }
    lc::consumeMessage(view);
}

bool CFlashLocalConnection::send(const char* methodName, const CFlashLocalConnectionCall* call, ULONGLONG timeLimitMs)
{
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
            lc::LockedPass pass;
            switch (pass.waitResult()) {
            case lc::WaitResult::Acquired:
                break;
            case lc::WaitResult::Abandoned:
                lc::report(kSendCaption, "Wait abandonned"); // spelt so on purpose
                [[fallthrough]];
            case lc::WaitResult::TimedOut:
                Sleep(kNoPassPauseMs);
                Sleep(kPassPauseMs);
                continue;
            case lc::WaitResult::Failed:
                ++failures;
                Sleep(kMissingMutexPauseMs);
                Sleep(kPassPauseMs);
                continue;
            }
            if (!pass.map()) {
                boxes.add("MapViewOfFile Failed", kSendCaption);
                status = -1;
            } else {
                const lc::SectionView view = pass.view();
                if (lc::findConnection(view, connectionName_).kind != lc::TableScan::Found) {
                    boxes.add("No connected Recipient", kSendCaption);
                    ++failures;
                    failurePause = kNoRecipientPauseMs;
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
            reportCleanup(pass.close(), kSendCleanup, boxes, status);
        }
        boxes.showAll();
        Sleep(failurePause);
        Sleep(kPassPauseMs);
    }
    return status == kSendWritten;
}
