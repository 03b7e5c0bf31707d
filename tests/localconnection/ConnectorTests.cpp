// The connector against real kernel objects: the test plays the Flash Player.
#include "launcher/CallIntake.h"
#include "localconnection/FlashLocalConnection.h"
#include "localconnection/LockedPass.h"
#include "localconnection/Pauses.h"
#include "resources/FilledText.h"
#include "resources/Texts.h"

#include "FlashPlayerPeer.h"
#include "Listener.h"
#include "SlotBytes.h"
#include "support/BoxWatcher.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

// This program's import slot of UnmapViewOfFile, through which the transport calls it.
#ifdef _WIN64
extern "C" BOOL(WINAPI* importedUnmapViewOfFile)(LPCVOID) __asm__("__imp_UnmapViewOfFile");
#else
extern "C" BOOL(WINAPI* importedUnmapViewOfFile)(LPCVOID) __asm__("__imp__UnmapViewOfFile@4");
#endif

namespace {

constexpr char kName[] = "__qel.external.connector__";
constexpr DWORD kWait = 10000;
// A send's overall time limit in these tests: long enough for several passes, short
// enough to keep the run fast (the launcher's own is 10 s).
constexpr ULONGLONG kSendLimitMs = 1500;

// A window of the test thread that collects the records posted to it.
class CallSink {
public:
    CallSink()
    {
        window_ = CreateWindowExA(0, "STATIC", "sink", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    }
    ~CallSink() { DestroyWindow(window_); }
    HWND window() const { return window_; }

    // Pumps until `count` records of the listener have arrived or the time is up,
    // sleeping only until the next message.
    std::vector<std::unique_ptr<CFlashLocalConnectionCall>>& collect(Listener& listener, std::size_t count,
                                                                     DWORD timeoutMs)
    {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        for (;;) {
            MSG msg;
            while (PeekMessageA(&msg, window_, 0, 0, PM_REMOVE)) {
                if (msg.message == kCallMessage && listener.connector().holdsPosted(msg.wParam))
                    calls_.push_back(listener.connector().takeOldestPosted());
                else if (msg.message != kCallMessage)
                    DispatchMessageA(&msg);
            }
            const ULONGLONG now = GetTickCount64();
            if (calls_.size() >= count || now >= deadline)
                return calls_;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        }
    }

private:
    HWND window_;
    std::vector<std::unique_ptr<CFlashLocalConnectionCall>> calls_;
};

std::size_t countInTable(const FlashPlayerPeer& peer, const std::string& name)
{
    const auto names = peer.tableNames();
    return static_cast<std::size_t>(std::count(names.begin(), names.end(), name));
}

std::vector<std::uint8_t> slotBytes(const FlashPlayerPeer& peer)
{
    peer.lock();
    const lc::SectionView view = peer.view();
    std::vector<std::uint8_t> bytes(view.data + 8, view.data + 16 + lc::messageLength(view));
    peer.unlock();
    return bytes;
}

std::unique_ptr<CFlashLocalConnectionCall> callWith(std::initializer_list<const char*> strings)
{
    auto call = std::make_unique<CFlashLocalConnectionCall>("");
    for (const char* s : strings)
        call->addArgument(std::make_unique<CFlashAMFString>(s), false);
    return call;
}

// A body for the launcher whose method name is not a string but this marker.
std::vector<std::uint8_t> headerWithMethodMarker(std::uint8_t marker)
{
    std::vector<std::uint8_t> body = stringValue(kName);
    const auto domain = stringValue("localhost");
    body.insert(body.end(), domain.begin(), domain.end());
    body.push_back(marker);
    return body;
}

// Takes and releases the mutex over and over from its own thread, the way another Flash
// Player would, and counts the waits that took long: a pause or a box while the mutex
// is held makes one in every pass that takes it. A busy machine makes one now and then.
class MutexHoldProbe {
public:
    MutexHoldProbe(HANDLE mutex, ULONGLONG longMs)
        : thread_([this, mutex, longMs](std::stop_token stop) {
              while (!stop.stop_requested()) {
                  const ULONGLONG start = GetTickCount64();
                  if (WaitForSingleObject(mutex, 5000) == WAIT_OBJECT_0)
                      ReleaseMutex(mutex);
                  if (GetTickCount64() - start >= longMs)
                      ++longWaits_;
                  Sleep(1);
              }
          })
    {
    }
    int longWaits()
    {
        thread_.request_stop();
        thread_.join();
        return longWaits_;
    }

private:
    std::atomic<int> longWaits_{0};
    std::jthread thread_;
};

// Ends the test's other thread however the test ends.
using JoiningThread = std::jthread;

TEST(ConnectorRegistration, AppendsToAnEmptyTableOnce)
{
    FlashPlayerPeer peer;
    ASSERT_TRUE(peer.ok());
    Listener listener(kName, nullptr, 0);
    ASSERT_TRUE(waitUntil([&] { return countInTable(peer, kName) == 1; }, kWait));
    EXPECT_TRUE(listener.connector().isRegistered());
    // Two messages taken (and dropped, there is no window) prove two later passes.
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_TRUE(peer.sendCall(kName, "Hello", *callWith({}), kWait));
        ASSERT_TRUE(waitUntil([&] { return peer.slotFree(); }, kWait));
    }
    EXPECT_EQ(peer.tableNames(), std::vector<std::string>{kName});
}

TEST(ConnectorRegistration, FindsANameLeftByAnEarlierRunAndAppendsNothing)
{
    FlashPlayerPeer peer;
    peer.registerName("__qel.external.connector__x");
    peer.registerName(kName);
    Listener listener(kName, nullptr, 0);
    ASSERT_TRUE(waitUntil([&] { return listener.connector().isRegistered(); }, kWait));
    EXPECT_EQ(peer.tableNames(), (std::vector<std::string>{"__qel.external.connector__x", kName}));
}

TEST(ConnectorRegistration, FullTableShowsItsBoxEveryPassAndReceivingGoesOn)
{
    FlashPlayerPeer peer;
    peer.lock();
    std::memset(peer.view().data + lc::kTableOffset, 'x', lc::kTableLimit - lc::kTableOffset);
    peer.unlock();
    BoxWatcher boxes;
    CallSink sink;
    Listener listener(kName, sink.window(), kCallMessage);
    ASSERT_TRUE(boxes.waitForCount(2, kWait));
    for (const SeenBox& box : boxes.boxes()) {
        EXPECT_EQ(box.caption, texts::kRegisterCaption);
        EXPECT_EQ(box.text, texts::kRegisteringFailed);
        EXPECT_TRUE(box.hasIcon);
    }
    EXPECT_FALSE(listener.connector().isRegistered());
    ASSERT_TRUE(peer.sendCall(kName, "StillHeard", *callWith({"reply"}), kWait));
    auto& calls = sink.collect(listener, 1, kWait);
    ASSERT_EQ(calls.size(), 1u) << "a connector that cannot register still receives";
    EXPECT_EQ(calls[0]->getMethodName(), "StillHeard");
    EXPECT_TRUE(waitUntil([&] { return peer.slotFree(); }, kWait));
    listener.connector().requestStop();
    EXPECT_TRUE(listener.connector().waitForReceiving(2000));
    Sleep(1000); // the last pass's box, on a thread of its own, is dismissed by the watcher
}

TEST(ConnectorRegistration, FailedRegistrationBoxAndPauseLeaveTheMutexFree)
{
    FlashPlayerPeer peer;
    peer.lock();
    std::memset(peer.view().data + lc::kTableOffset, 'x', lc::kTableLimit - lc::kTableOffset);
    peer.unlock();
    BoxWatcher boxes(0, false);
    MutexHoldProbe probe(peer.mutex(), lc::pauses::kAfterRegisterFailedMs * 3 / 5); // most of the pause
    Listener listener(kName, nullptr, 0);
    for (std::size_t seen = 1; seen <= 2; ++seen) {
        ASSERT_TRUE(boxes.waitForCount(seen, kWait));
        EXPECT_EQ(WaitForSingleObject(peer.mutex(), 2000), WAIT_OBJECT_0) << "box " << seen << " is up";
        ReleaseMutex(peer.mutex());
        boxes.dismissAll();
    }
    // A box raised meanwhile must not outlive the test: boxes open on threads of their
    // own, so one raised by the last pass may appear a moment after the thread has ended.
    listener.connector().requestStop();
    EXPECT_TRUE(listener.connector().waitForReceiving(2000));
    for (int i = 0; i < 20; ++i, Sleep(100))
        boxes.dismissAll();
    EXPECT_EQ(probe.longWaits(), 0);
}

TEST(ConnectorReceiving, PostsOneRecordPerMessageInOrderAndFreesTheSlot)
{
    FlashPlayerPeer peer;
    CallSink sink;
    Listener listener(kName, sink.window(), kCallMessage);
    ASSERT_TRUE(peer.sendCall(kName, "First", *callWith({"reply", "a", "b"}), kWait));
    ASSERT_TRUE(peer.sendCall(kName, "Second", *callWith({"reply"}), kWait));
    auto& calls = sink.collect(listener, 2, kWait);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0]->getMethodName(), "First");
    std::vector<std::string> arguments;
    for (const auto& value : calls[0]->getArguments())
        arguments.push_back(value->toString());
    EXPECT_EQ(arguments, (std::vector<std::string>{"reply", "a", "b"}));
    EXPECT_EQ(calls[1]->getMethodName(), "Second");
    ASSERT_TRUE(waitUntil([&] { return peer.slotFree(); }, kWait));
    peer.lock();
    const std::vector<std::uint8_t> consumed(peer.view().data + 8, peer.view().data + 17);
    peer.unlock();
    EXPECT_EQ(consumed, std::vector<std::uint8_t>(9, 0)) << "timestamp, length and presence mark";
}

TEST(ConnectorReceiving, LeavesMessagesForOtherNamesUntouched)
{
    FlashPlayerPeer peer;
    CallSink sink;
    Listener listener(kName, sink.window(), kCallMessage);
    for (const char* other : {"someone.else", "__QEL.external.connector__"}) {
        ASSERT_TRUE(peer.sendCall(other, "Hello", *callWith({"x"}), kWait));
        const auto before = slotBytes(peer);
        EXPECT_TRUE(sink.collect(listener, 1, 400).empty());
        EXPECT_EQ(slotBytes(peer), before) << other;
        ReceivedMessage taken;
        ASSERT_TRUE(peer.receive(other, kWait, taken));
    }
}

TEST(ConnectorReceiving, WithoutWindowTheRecordIsDroppedAndTheSlotFreed)
{
    FlashPlayerPeer peer;
    Listener listener(kName, nullptr, 0);
    ASSERT_TRUE(peer.sendCall(kName, "Hello", *callWith({"x"}), kWait));
    EXPECT_TRUE(waitUntil([&] { return peer.slotFree(); }, kWait));
}

TEST(ConnectorReceiving, HeaderThatIsNotAStringIsReportedAfterThePass)
{
    FlashPlayerPeer peer;
    CallSink sink;
    BoxWatcher boxes(0, false);
    Listener listener(kName, sink.window(), kCallMessage);
    const auto body = headerWithMethodMarker(0x05); // a null where the method name should be
    ASSERT_TRUE(peer.sendBody(body, kWait));
    ASSERT_TRUE(boxes.waitForCount(1, kWait));
    // The box is up: the section must not be locked meanwhile.
    EXPECT_EQ(WaitForSingleObject(peer.mutex(), 2000), WAIT_OBJECT_0);
    EXPECT_EQ(lc::messageLength(peer.view()), 0u);
    ReleaseMutex(peer.mutex());
    boxes.dismissAll();
    EXPECT_EQ(boxes.boxes()[0].caption, texts::kDecodeCaption);
    EXPECT_EQ(boxes.boxes()[0].text, filledText(texts::kHeaderNotString, 1, 5));
    EXPECT_TRUE(sink.collect(listener, 1, 300).empty());
}

TEST(ConnectorReceiving, BodyThatDoesNotDecodeIsConsumedSilently)
{
    FlashPlayerPeer peer;
    CallSink sink;
    BoxWatcher boxes;
    Listener listener(kName, sink.window(), kCallMessage);
    std::vector<std::uint8_t> body = stringValue(kName);
    for (const char* s : {"localhost", "Hello"}) {
        const auto value = stringValue(s);
        body.insert(body.end(), value.begin(), value.end());
    }
    body.insert(body.end(), {0x02, 0x00, 0x40, 0x61}); // runs past the body
    ASSERT_TRUE(peer.sendBody(body, kWait));
    ASSERT_TRUE(waitUntil([&] { return peer.slotFree(); }, kWait));
    EXPECT_TRUE(sink.collect(listener, 1, 300).empty());
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST(ConnectorReceiving, RecordThatCannotBePostedIsDestroyed)
{
    FlashPlayerPeer peer;
    HWND gone = CreateWindowExA(0, "STATIC", "gone", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    DestroyWindow(gone);
    const long before = CFlashLocalConnectionCall::liveCount();
    {
        Listener listener(kName, gone, kCallMessage);
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(peer.sendCall(kName, "Lost", *callWith({"reply", "x"}), kWait));
            ASSERT_TRUE(waitUntil([&] { return peer.slotFree(); }, kWait));
        }
    }
    EXPECT_EQ(CFlashLocalConnectionCall::liveCount(), before);
}

TEST(ConnectorReceiving, StopsWhenAskedWithExitCodeZero)
{
    FlashPlayerPeer peer;
    CFlashLocalConnection connector(kName, nullptr, 0);
    connector.startReceiving();
    ASSERT_TRUE(waitUntil([&] { return connector.isRegistered(); }, kWait));
    connector.requestStop();
    ASSERT_TRUE(connector.waitForReceiving(2000));
    EXPECT_EQ(connector.receiveExitCode(), 0u);
}

// A Flash Player makes its mutex a moment before its section, and may make its section
// anew while it runs: neither leaves the listener deaf, and neither raises a box.
TEST(ConnectorPassFailures, SectionMissingForAMomentIsWaitedForAndAFreshTableIsJoined)
{
    FlashPlayerPeer mutexOnly(0);
    BoxWatcher boxes;
    CallSink sink;
    Listener listener(kName, sink.window(), kCallMessage);
    listener.waitForAPass(); // two passes that found no section
    for (std::size_t round = 1; round <= 2; ++round) {
        {
            FlashPlayerPeer peer; // the section, made (again), with an empty table
            ASSERT_TRUE(waitUntil([&] { return countInTable(peer, kName) == 1; }, kWait)) << "round " << round;
            ASSERT_TRUE(peer.sendCall(kName, "Heard", *callWith({"reply"}), kWait));
            EXPECT_EQ(sink.collect(listener, round, kWait).size(), round);
        }
        listener.waitForAPass(); // the old section is gone once no pass holds it
    }
    EXPECT_EQ(listener.connector().receiveExitCode(), STILL_ACTIVE);
    EXPECT_TRUE(boxes.boxes().empty());
}

// The stop request ends the wait for a mutex that another Flash Player holds: the thread
// never takes it on its way out, so nobody finds it abandoned.
TEST(ConnectorPassFailures, StopEndsAWaitForTheMutexBeforeItIsGranted)
{
    FlashPlayerPeer peer;
    Listener listener(kName, nullptr, 0);
    ASSERT_TRUE(waitUntil([&] { return listener.connector().isRegistered(); }, kWait));
    listener.waitForAPass();
    peer.lock();
    // The listener's next pass begins within its pause, and then waits for the mutex.
    Sleep(20 * lc::pauses::kAfterReceivePassMs);
    listener.connector().requestStop();
    static_assert(lc::kMutexWaitMs > 1000, "the wait would end by itself");
    EXPECT_TRUE(listener.connector().waitForReceiving(1000)) << "the wait lasts kMutexWaitMs without the stop";
    peer.unlock();
    EXPECT_EQ(WaitForSingleObject(peer.mutex(), 2000), WAIT_OBJECT_0);
    ReleaseMutex(peer.mutex());
}

// A box waits for the player on a thread of its own: the slot goes on being served, and
// a box still open is not opened again however often its cause comes back.
TEST(ConnectorPassFailures, OpenBoxesNeitherStopReceivingNorPileUp)
{
    FlashPlayerPeer peer;
    CallSink sink;
    BoxWatcher boxes(0, false);
    Listener listener(kName, sink.window(), kCallMessage);
    const auto body = headerWithMethodMarker(0x00); // a number where the method name should be
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(peer.sendBody(body, kWait));
        ASSERT_TRUE(boxes.waitForCount(1, kWait));
    }
    ASSERT_TRUE(peer.sendCall(kName, "StillHeard", *callWith({"reply"}), kWait));
    EXPECT_EQ(sink.collect(listener, 1, 2000).size(), 1u) << "a call comes through while the box is open";
    // A full table fails registration in every pass; its box shows once.
    peer.lock();
    std::memset(peer.view().data + lc::kTableOffset, 'x', lc::kTableLimit - lc::kTableOffset);
    peer.unlock();
    ASSERT_TRUE(boxes.waitForCount(2, kWait));
    // About ten failing passes, each followed by its pause.
    Sleep(10 * (lc::pauses::kAfterRegisterFailedMs + lc::pauses::kAfterReceivePassMs));
    const auto seen = boxes.boxes();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, filledText(texts::kHeaderNotString, 1, 0));
    EXPECT_EQ(seen[1].text, texts::kRegisteringFailed);
    listener.connector().requestStop();
    EXPECT_TRUE(listener.connector().waitForReceiving(2000)) << "open boxes do not hold the thread";
    for (int i = 0; i < 20; ++i, Sleep(100))
        boxes.dismissAll();
}

TEST(ConnectorPassFailures, RecoversFromAnAbandonedMutex)
{
    FlashPlayerPeer peer;
    std::thread([&] { WaitForSingleObject(peer.mutex(), INFINITE); }).join(); // ends while owning it
    Listener listener(kName, nullptr, 0);
    EXPECT_TRUE(waitUntil([&] { return listener.connector().isRegistered(); }, kWait));
    // The ownership the abandoned wait handed over must be given back, or nobody else
    // would ever take the mutex again.
    EXPECT_EQ(WaitForSingleObject(peer.mutex(), 2000), WAIT_OBJECT_0);
    ReleaseMutex(peer.mutex());
}

// What a console tool sets instead of the boxes: every report, on the thread that raised it.
std::vector<std::pair<std::string, std::string>> g_reports;
std::mutex g_reportsLock;

void collectReport(const char* caption, const char* text)
{
    std::lock_guard<std::mutex> hold(g_reportsLock);
    g_reports.emplace_back(caption, text);
}

TEST(ConnectorReportSink, TakesEveryReportInsteadOfABoxAndGivesThemBackWhenCleared)
{
    g_reports.clear();
    lc::setReportSink(collectReport);
    BoxWatcher boxes;
    {
        FlashPlayerPeer mutexOnly(0);
        EXPECT_FALSE(CFlashLocalConnection("game.reply", nullptr, 0).send("onDone", nullptr));
    }
    {
        FlashPlayerPeer peer;
        peer.lock();
        std::memset(peer.view().data + lc::kTableOffset, 'x', lc::kTableLimit - lc::kTableOffset);
        peer.unlock();
        Listener listener(kName, nullptr, 0);
        ASSERT_TRUE(waitUntil(
            [] {
                std::lock_guard<std::mutex> hold(g_reportsLock);
                return g_reports.size() >= 3;
            },
            kWait));
    }
    Sleep(500);
    EXPECT_TRUE(boxes.boxes().empty());
    lc::setReportSink(nullptr);
    std::lock_guard<std::mutex> hold(g_reportsLock);
    using Report = std::pair<std::string, std::string>;
    EXPECT_EQ(g_reports[0], Report(texts::kSendCaption, texts::kSendMapFailed));
    for (std::size_t i = 1; i < g_reports.size(); ++i)
        EXPECT_EQ(g_reports[i], Report(texts::kRegisterCaption, texts::kRegisteringFailed)) << "one in each pass";
}

// Each side's clean-up failures, in the steps' order and its own words, and the status
// the last one leaves.
TEST(ConnectorReportSink, CleanupFailuresAreReportedInEachSidesWords)
{
    using namespace texts;
    using Report = std::pair<std::string, std::string>;
    g_reports.clear();
    lc::setReportSink(collectReport);
    lc::BoxQueue receiveBoxes;
    lc::BoxQueue sendBoxes;
    const lc::CleanupStatus receiveStatus =
        lc::reportCleanup({true, true, true, true}, lc::PassSide::Receive, receiveBoxes);
    const lc::CleanupStatus sendStatus = lc::reportCleanup({true, true, true, true}, lc::PassSide::Send, sendBoxes);
    receiveBoxes.openAll();
    sendBoxes.showAll();
    lc::setReportSink(nullptr);
    EXPECT_EQ(g_reports, (std::vector<Report>{{kReceiveCaption, kReceiveUnmapFailed},
                                              {kReceiveCaption, kReceiveCloseFailed},
                                              {kReceiveCaption, kReceiveReleaseFailed},
                                              {kReceiveCaption, kReceiveCloseFailed},
                                              {kSendCaption, kSendUnmapFailed},
                                              {kSendCaption, kSendCloseSectionFailed},
                                              {kSendCaption, kSendReleaseFailed},
                                              {kSendCaption, kSendCloseMutexFailed}}));
    EXPECT_EQ(receiveStatus, lc::CleanupStatus::CloseMutexFailed);
    EXPECT_EQ(sendStatus, lc::CleanupStatus::CloseMutexFailed);
    lc::BoxQueue boxes;
    EXPECT_EQ(static_cast<int>(lc::reportCleanup({false, true, false, false}, lc::PassSide::Receive, boxes)), -3);
}

class ConnectorSending : public ::testing::Test {
protected:
    FlashPlayerPeer peer_;
};

TEST_F(ConnectorSending, WritesTheExactCall)
{
    peer_.registerName("game.reply");
    CFlashLocalConnection connector("game.reply", nullptr, 0);
    connector.send("onDone", callWith({"a", "b"}).get());
    std::vector<std::uint8_t> expected;
    for (const char* s : {"game.reply", "localhost", "onDone", "b", "a"}) {
        const auto value = stringValue(s);
        expected.insert(expected.end(), value.begin(), value.end());
    }
    const auto slot = slotBytes(peer_);
    ASSERT_EQ(slot.size(), 8 + expected.size());
    std::uint32_t length;
    std::memcpy(&length, slot.data() + 4, 4);
    EXPECT_EQ(length, expected.size());
    EXPECT_EQ(std::vector<std::uint8_t>(slot.begin() + 8, slot.end()), expected);
    ReceivedMessage message;
    ASSERT_TRUE(peer_.receive("game.reply", 1000, message));
    EXPECT_EQ(message.domain, "localhost");
}

// A send whose wait finds the mutex abandoned says so, gives the ownership back, and
// writes the call in a later attempt.
TEST_F(ConnectorSending, AbandonedMutexIsReportedAndTheCallStillWritten)
{
    peer_.registerName("game.reply");
    std::thread([&] { WaitForSingleObject(peer_.mutex(), INFINITE); }).join(); // ends while owning it
    g_reports.clear();
    lc::setReportSink(collectReport);
    const bool written = CFlashLocalConnection("game.reply", nullptr, 0).send("onDone", nullptr);
    lc::setReportSink(nullptr);
    EXPECT_TRUE(written);
    EXPECT_EQ(g_reports,
              (std::vector<std::pair<std::string, std::string>>{{texts::kSendCaption, texts::kSendWaitAbandoned}}));
}

// Once the end has come nothing is written, even with the mutex free at that moment.
TEST_F(ConnectorSending, AnEndAlreadySignalledWinsOverAFreeMutex)
{
    peer_.registerName("game.reply");
    const UniqueHandle ended(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    EXPECT_FALSE(CFlashLocalConnection("game.reply", nullptr, 0).send("onDone", nullptr, {.giveUp = ended.get()}));
    EXPECT_TRUE(peer_.slotFree());
}

// While it lives, UnmapViewOfFile in this program unmaps and then says it failed: a clean-up
// step that fails, which nothing outside a pass can bring about.
class FailingUnmap {
public:
    using Unmap = BOOL(WINAPI*)(LPCVOID);
    FailingUnmap() { swap(unmapThenFail); }
    ~FailingUnmap() { swap(real_); }
    FailingUnmap(const FailingUnmap&) = delete;
    FailingUnmap& operator=(const FailingUnmap&) = delete;

private:
    static BOOL WINAPI unmapThenFail(LPCVOID view)
    {
        real_(view);
        return FALSE;
    }
    static void swap(Unmap to)
    {
        DWORD was = 0;
        VirtualProtect(&slot_, sizeof slot_, PAGE_READWRITE, &was);
        if (!real_)
            real_ = slot_;
        slot_ = to;
        VirtualProtect(&slot_, sizeof slot_, was, &was);
    }
    static inline Unmap real_ = nullptr;
    static inline Unmap& slot_ = importedUnmapViewOfFile;
};

TEST_F(ConnectorSending, AWrittenCallStaysWrittenWhenItsPassFailsToLetGo)
{
    peer_.registerName("game.reply");
    BoxWatcher boxes;
    bool written = false;
    {
        const FailingUnmap failing;
        written = CFlashLocalConnection("game.reply", nullptr, 0).send("onDone", nullptr);
    }
    EXPECT_TRUE(written);
    ReceivedMessage message;
    ASSERT_TRUE(peer_.receive("game.reply", 1000, message));
    ASSERT_NE(message.call, nullptr);
    EXPECT_EQ(message.call->getMethodName(), "onDone");
    ASSERT_EQ(boxes.boxes().size(), 1u) << "the failed step is still reported";
    EXPECT_EQ(boxes.boxes()[0].text, texts::kSendUnmapFailed);
}

TEST_F(ConnectorSending, NeverOverwritesABusySlotAndWritesOnceItIsFree)
{
    peer_.registerName("game.reply");
    peer_.registerName("other");
    ASSERT_TRUE(peer_.sendCall("other", "Pending", *callWith({}), 1000));
    std::thread consumer([&] {
        Sleep(500); // not a wait: keeps the slot busy across many of the sender's passes
        ReceivedMessage taken;
        peer_.receive("other", kWait, taken);
    });
    CFlashLocalConnection connector("game.reply", nullptr, 0);
    connector.send("onDone", nullptr);
    consumer.join();
    ReceivedMessage message;
    ASSERT_TRUE(peer_.receive("game.reply", 1000, message));
    ASSERT_NE(message.call, nullptr);
    EXPECT_EQ(message.call->getMethodName(), "onDone");
}

TEST_F(ConnectorSending, MissingRecipientGivesABoxPerCountedFailureAndWritesNothing)
{
    BoxWatcher boxes;
    CFlashLocalConnection connector("nobody.listens", nullptr, 0);
    connector.send("onDone", nullptr); // the full time limit: each box takes a while under Wine
    // send shows its boxes itself and returns once the last is closed: all are seen.
    ASSERT_EQ(boxes.boxes().size(), static_cast<std::size_t>(SendOptions::kMaxCountedFailures));
    for (const SeenBox& box : boxes.boxes()) {
        EXPECT_EQ(box.text, texts::kSendNoRecipient);
        EXPECT_EQ(box.caption, texts::kSendCaption);
    }
    EXPECT_TRUE(peer_.slotFree());
}

TEST_F(ConnectorSending, MissingRecipientBoxesAndPausesLeaveTheMutexFree)
{
    BoxWatcher boxes(0, false);
    // Most of the pause taken after each pass that finds no recipient.
    MutexHoldProbe probe(peer_.mutex(), lc::pauses::kSendNoRecipientMs * 4 / 5);
    JoiningThread sender([] { CFlashLocalConnection("nobody.listens", nullptr, 0).send("onDone", nullptr); });
    for (std::size_t seen = 1; seen <= SendOptions::kMaxCountedFailures; ++seen) {
        ASSERT_TRUE(boxes.waitForCount(seen, kWait));
        EXPECT_EQ(WaitForSingleObject(peer_.mutex(), 2000), WAIT_OBJECT_0) << "box " << seen << " is up";
        ReleaseMutex(peer_.mutex());
        boxes.dismissAll();
    }
    sender.join();
    EXPECT_LE(probe.longWaits(), 1);
}

TEST_F(ConnectorSending, GivesUpAfterItsTimeLimitOnASlotNobodyEmpties)
{
    peer_.registerName("game.reply");
    peer_.registerName("dead.peer");
    ASSERT_TRUE(peer_.sendCall("dead.peer", "Pending", *callWith({}), 1000));
    BoxWatcher boxes;
    const ULONGLONG start = GetTickCount64();
    CFlashLocalConnection("game.reply", nullptr, 0).send("onDone", nullptr, {.timeLimitMs = kSendLimitMs});
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, kSendLimitMs - 100);
    EXPECT_LT(elapsed, kSendLimitMs + 8000);
    EXPECT_TRUE(boxes.boxes().empty());
    ReceivedMessage still;
    EXPECT_TRUE(peer_.receive("dead.peer", 100, still));
}

TEST_F(ConnectorSending, OversizedCallAndOverlongNameWriteNothingSilently)
{
    peer_.registerName("game.reply");
    BoxWatcher boxes;
    auto big = std::make_unique<CFlashLocalConnectionCall>("");
    big->addArgument(std::make_unique<CFlashAMFString>(std::string(40000, 'x')), false);
    big->addArgument(std::make_unique<CFlashAMFString>(std::string(1000, 'y')), false);
    CFlashLocalConnection("game.reply", nullptr, 0).send("onDone", big.get());
    EXPECT_TRUE(peer_.slotFree());
    CFlashLocalConnection(std::string(lc::kMaxNameLength + 1, 'n').c_str(), nullptr, 0).send("onDone", nullptr);
    EXPECT_TRUE(peer_.slotFree());
    EXPECT_TRUE(boxes.boxes().empty()) << "a box would have held send until it was closed";
}

TEST(ConnectorSendingAlone, NoFlashPlayerMeansQuickCountedFailuresAndNoBox)
{
    BoxWatcher boxes;
    const ULONGLONG start = GetTickCount64();
    CFlashLocalConnection("game.reply", nullptr, 0).send("onDone", nullptr);
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, SendOptions::kMaxCountedFailures * lc::pauses::kSendNoMutexMs);
    EXPECT_LT(elapsed, 5000u);
    EXPECT_TRUE(boxes.boxes().empty()) << "a box would have held send until it was closed";
}

} // namespace
