// The receive side under a hostile or careless peer, against real kernel objects (the
// test plays the Flash Player): calls waiting for a busy window are bounded, and
// running out of memory ends one call, never the receiving or the launcher.
#include "launcher/CallIntake.h"
#include "localconnection/FlashLocalConnection.h"
#include "resources/FilledText.h"
#include "resources/Texts.h"

#include "FlashPlayerPeer.h"
#include "Listener.h"
#include "SlotBytes.h"
#include "support/BoxWatcher.h"
#include "support/FailingAllocator.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr char kName[] = "__qel.external.connector__";
constexpr DWORD kWait = 10000;

// A body for the launcher's name: header, `filler` bytes of nulls, then the reply name.
std::vector<std::uint8_t> bodyWithNulls(std::size_t nulls, const std::string& method = "Flood")
{
    std::vector<std::uint8_t> body;
    for (const std::string& s : {std::string(kName), std::string("localhost"), method}) {
        const auto value = stringValue(s);
        body.insert(body.end(), value.begin(), value.end());
    }
    body.insert(body.end(), nulls, 0x05);
    const auto reply = stringValue("tovin.game.reply");
    body.insert(body.end(), reply.begin(), reply.end());
    return body;
}

// A window of the test thread whose queue is only read when the test says so: it plays
// a main thread held by a download.
class BusyWindow {
public:
    BusyWindow()
    {
        window_ = CreateWindowExA(0, "STATIC", "busy", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    }
    ~BusyWindow() { DestroyWindow(window_); }
    HWND window() const { return window_; }

    // Takes the records of every message posted so far from the listener. The messages
    // are read first: a record taken frees room, and the call that waited for it must
    // not slip into this drain.
    std::vector<std::unique_ptr<CFlashLocalConnectionCall>> drain(Listener& listener)
    {
        std::vector<WPARAM> posted;
        MSG msg;
        while (PeekMessageA(&msg, window_, kCallMessage, kCallMessage, PM_REMOVE))
            posted.push_back(msg.wParam);
        std::vector<std::unique_ptr<CFlashLocalConnectionCall>> calls;
        for (const WPARAM record : posted)
            if (listener.connector().holdsPosted(record))
                calls.push_back(listener.connector().takeOldestPosted());
        return calls;
    }

private:
    HWND window_;
};

std::size_t queued(HWND window)
{
    std::size_t count = 0;
    MSG msg;
    std::vector<MSG> seen;
    while (PeekMessageA(&msg, window, kCallMessage, kCallMessage, PM_REMOVE))
        seen.push_back(msg);
    for (const MSG& m : seen)
        PostMessageA(window, m.message, m.wParam, m.lParam), ++count;
    return count;
}

TEST(ReceiveBound, LargeCallsWaitInTheSlotOnceThePendingBodiesReachTheirBound)
{
    FlashPlayerPeer peer;
    BusyWindow window;
    BoxWatcher boxes;
    Listener listener(kName, window.window(), kCallMessage);
    const auto body = bodyWithNulls(40000);
    const std::size_t admitted = CFlashLocalConnection::kMaxPendingBodyBytes / body.size();

    for (std::size_t i = 0; i < admitted; ++i)
        ASSERT_TRUE(peer.sendBody(body, kWait)) << "call " << i;
    ASSERT_TRUE(peer.sendBody(body, kWait));
    // The bound is reached: this one stays where it is, untouched.
    listener.waitForAPass();
    EXPECT_FALSE(peer.slotFree());
    EXPECT_EQ(queued(window.window()), admitted);

    // The window catches up: the waiting call is taken, and nothing was lost.
    EXPECT_EQ(window.drain(listener).size(), admitted);
    ASSERT_TRUE(waitUntil([&] { return peer.slotFree(); }, kWait));
    ASSERT_TRUE(waitUntil([&] { return queued(window.window()) == 1; }, kWait));
    EXPECT_TRUE(boxes.boxes().empty());
}

// Windows refuses a post once a window's queue holds 10,000 messages, which any program
// on the desktop can bring about by posting to the window; Wine's queues have no such
// limit, so this stand-in refuses while the test says the queue is full.
std::atomic<bool> g_queueFull{false};

BOOL WINAPI postUnlessFull(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (g_queueFull) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    return PostMessageA(window, message, wParam, lParam);
}

// A call taken out of the slot while the window's queue is full waits; it is posted once
// the queue has room, late but not lost.
TEST(ReceiveBound, ACallTakenWhileTheQueueIsFullIsPostedOnceItDrains)
{
    FlashPlayerPeer peer;
    BusyWindow window;
    g_queueFull = true;
    Listener listener(kName, window.window(), kCallMessage, postUnlessFull);
    ASSERT_TRUE(peer.sendBody(bodyWithNulls(10, "Late"), kWait));
    ASSERT_TRUE(waitUntil([&] { return peer.slotFree(); }, kWait)) << "the call stayed in the slot";
    listener.waitForAPass(); // which would have posted it again
    EXPECT_EQ(queued(window.window()), 0u);
    g_queueFull = false;
    ASSERT_TRUE(waitUntil([&] { return queued(window.window()) == 1; }, kWait));
    const auto calls = window.drain(listener);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]->getMethodName(), "Late");
}

// The game has gone and the launcher with it: a call that waited at the bound must not
// stay in the slot, where it would block every LocalConnection for good.
TEST(ReceiveBound, ACallWaitingInTheSlotIsTakenOutWhenTheListenerStops)
{
    FlashPlayerPeer peer;
    BusyWindow window;
    auto listener = std::make_unique<Listener>(kName, window.window(), kCallMessage);
    const auto body = bodyWithNulls(40000);
    for (std::size_t i = 0; i <= CFlashLocalConnection::kMaxPendingBodyBytes / body.size(); ++i)
        ASSERT_TRUE(peer.sendBody(body, kWait)) << "call " << i;
    listener->waitForAPass();
    ASSERT_FALSE(peer.slotFree());
    listener.reset();
    EXPECT_TRUE(peer.slotFree());
}

TEST(ReceiveBound, SmallCallsWaitInTheSlotOnceThePendingCallsReachTheirBound)
{
    FlashPlayerPeer peer;
    peer.setPollInterval(1);
    BusyWindow window;
    Listener listener(kName, window.window(), kCallMessage);
    const auto body = bodyWithNulls(0);
    for (std::uint32_t i = 0; i < CFlashLocalConnection::kMaxPendingCalls; ++i)
        ASSERT_TRUE(peer.sendBody(body, kWait)) << "call " << i;
    ASSERT_TRUE(peer.sendBody(body, kWait));
    listener.waitForAPass();
    EXPECT_FALSE(peer.slotFree());

    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, window.window(), kCallMessage, kCallMessage, PM_REMOVE));
    ASSERT_TRUE(listener.connector().holdsPosted(msg.wParam));
    EXPECT_NE(listener.connector().takeOldestPosted(), nullptr);
    ASSERT_TRUE(waitUntil([&] { return peer.slotFree(); }, kWait)) << "one call taken lets the next in";
    ASSERT_TRUE(waitUntil([&] { return queued(window.window()) == CFlashLocalConnection::kMaxPendingCalls; }, kWait));
    EXPECT_EQ(window.drain(listener).size(), CFlashLocalConnection::kMaxPendingCalls);
}

TEST(ReceiveMemory, OutOfMemoryWhileDecodingDropsThatCallAndReceivingGoesOn)
{
    FlashPlayerPeer peer;
    BusyWindow window;
    BoxWatcher boxes;
    Listener listener(kName, window.window(), kCallMessage);
    ASSERT_TRUE(waitUntil([&] { return listener.connector().isRegistered(); }, kWait));

    // A 30000-byte string needs more than the allocator will give while the guard holds.
    std::vector<std::uint8_t> body = bodyWithNulls(0);
    const auto big = stringValue(std::string(30000, 'x'));
    body.insert(body.end() - 19, big.begin(), big.end());
    const std::size_t refusedBefore = refusedAllocations();
    {
        FailAllocationsAbove guard(20000);
        ASSERT_TRUE(peer.sendBody(body, kWait));
        EXPECT_TRUE(waitUntil([&] { return peer.slotFree(); }, kWait)) << "the call is consumed";
    }
    EXPECT_GT(refusedAllocations(), refusedBefore);
    EXPECT_TRUE(window.drain(listener).empty());

    ASSERT_TRUE(peer.sendBody(bodyWithNulls(3), kWait));
    ASSERT_TRUE(waitUntil([&] { return queued(window.window()) == 1; }, kWait)) << "the next call is received";
    EXPECT_EQ(window.drain(listener).size(), 1u);
    EXPECT_TRUE(boxes.boxes().empty());
}

// The decoding box's report fits what the heap gives; what shows it does not. The box
// is dropped, not the launcher.
TEST(ReceiveMemory, OutOfMemoryWhileShowingABoxDropsThatBoxAndReceivingGoesOn)
{
    FlashPlayerPeer peer;
    BusyWindow window;
    Listener listener(kName, window.window(), kCallMessage);
    ASSERT_TRUE(waitUntil([&] { return listener.connector().isRegistered(); }, kWait));
    std::vector<std::uint8_t> body = bodyWithNulls(2);
    body[0] = 0x05;
    const std::size_t refusedBefore = refusedAllocations();
    {
        FailAllocationsAbove guard(40);
        ASSERT_TRUE(peer.sendBody(body, kWait));
        EXPECT_TRUE(waitUntil([&] { return peer.slotFree(); }, kWait));
        listener.waitForAPass(); // the pass has handed its report on
    }
    EXPECT_GT(refusedAllocations(), refusedBefore);
    ASSERT_TRUE(peer.sendBody(bodyWithNulls(3), kWait));
    ASSERT_TRUE(waitUntil([&] { return queued(window.window()) == 1; }, kWait)) << "the next call is received";
    EXPECT_EQ(window.drain(listener).size(), 1u);
    EXPECT_TRUE(topLevelDialogs(GetCurrentProcessId()).empty());
}

TEST(ReceiveHeader, FirstFieldThatIsNotAStringButNamesUsIsTakenWithItsBox)
{
    FlashPlayerPeer peer;
    BusyWindow window;
    BoxWatcher boxes(0, false);
    Listener listener(kName, window.window(), kCallMessage);
    std::vector<std::uint8_t> body = bodyWithNulls(2);
    // A first byte of zero too: the length says a message is there.
    const std::uint8_t markers[] = {0x05, 0x00};
    for (std::size_t i = 0; i < 2; ++i) {
        body[0] = markers[i];
        ASSERT_TRUE(peer.sendBody(body, kWait));
        ASSERT_TRUE(boxes.waitForCount(i + 1, kWait));
        EXPECT_TRUE(waitUntil([&] { return peer.slotFree(); }, kWait)) << "nobody else would ever take it out";
        boxes.dismissAll();
        EXPECT_EQ(boxes.boxes()[i].caption, texts::kDecodeCaption);
        EXPECT_EQ(boxes.boxes()[i].text, filledText(texts::kHeaderNotString, 1, markers[i]));
        EXPECT_TRUE(window.drain(listener).empty());
    }
}

TEST(CallIntakeMemory, OutOfMemoryInTheDispatchDropsThatCall)
{
    FlashPlayerPeer peer;
    BusyWindow window;
    CLauncherServices services;
    CallIntake intake(services);
    intake.open(window.window());
    // No game listens: the answer would only be tried. The reply name is long enough
    // that copying it needs the heap, which refuses.
    CFlashLocalConnectionCall call("");
    call.addArgument(std::make_unique<CFlashAMFString>(std::string(64, 'r')), false);
    ASSERT_TRUE(peer.sendCall(kName, "SomethingUnknown", call, kWait));
    MSG msg;
    ASSERT_TRUE(
        waitUntil([&] { return PeekMessageA(&msg, window.window(), kCallMessage, kCallMessage, PM_REMOVE); }, kWait));
    const std::size_t refusedBefore = refusedAllocations();
    {
        FailAllocationsAbove guard(32);
        EXPECT_NO_THROW(intake.deliver(msg.wParam, nullptr));
    }
    EXPECT_GT(refusedAllocations(), refusedBefore);
}

} // namespace
