#include "localconnection/BoxQueue.h"

#include "localconnection/Trace.h"
#include "win/CrashStack.h"
#include "win/WideText.h"
#include "win/WinHandles.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>

namespace lc {

namespace {

void showBox(const char* caption, const char* text)
{
    traceBox(caption, text);
    try {
        MessageBoxW(nullptr, win::widen(text).c_str(), win::widen(caption).c_str(), MB_OK | MB_ICONERROR);
    } catch (const std::bad_alloc&) {
        // No room for the texts in UTF-16: the box is lost, not the thread that shows it.
    }
}

std::atomic<ReportSink> g_sink{showBox};

// A message box needs far less than the default 1 MiB of stack reserved for a thread.
constexpr SIZE_T kBoxThreadStack = 256 * 1024;

// The boxes open right now, by caption and text. Shared by the threads that open boxes
// and the threads whose boxes close.
class OpenBoxes {
public:
    // False when the same box is open already, or too many are.
    bool claim(const std::string& key)
    {
        // The key's copy may run out of memory: the guard lets go of the lock all the same.
        ExclusiveLock hold(lock_);
        const bool free = open_.size() < kMaxOpenBoxes && std::find(open_.begin(), open_.end(), key) == open_.end();
        if (free)
            open_.push_back(key); // the vector's room is reserved up front
        return free;
    }
    void release(const std::string& key)
    {
        ExclusiveLock hold(lock_);
        const auto found = std::find(open_.begin(), open_.end(), key);
        if (found != open_.end())
            open_.erase(found);
    }
    OpenBoxes() { open_.reserve(kMaxOpenBoxes); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<std::string> open_;
};

// Never destroyed: a box thread may still be open while the process ends.
OpenBoxes& openBoxes()
{
    static OpenBoxes* boxes = new OpenBoxes; // NOLINT(cppcoreguidelines-owning-memory): lives as long as the process
    return *boxes;
}

struct DetachedBox {
    std::string caption;
    std::string text;
    std::string key;
};

DWORD WINAPI showDetachedBox(LPVOID parameter)
{
    win::keepStackForCrash();
    const std::unique_ptr<DetachedBox> box(static_cast<DetachedBox*>(parameter));
    showBox(box->caption.c_str(), box->text.c_str());
    openBoxes().release(box->key);
    return 0;
}

} // namespace

void setReportSink(ReportSink sink)
{
    g_sink.store(sink ? sink : showBox);
}

void report(const char* caption, const char* text)
{
    g_sink.load()(caption, text);
}

void reportWithoutWaiting(const char* caption, const char* text)
{
    const ReportSink sink = g_sink.load();
    if (sink != showBox) {
        sink(caption, text); // a sink that is not a box does not wait for anyone
        return;
    }
    std::unique_ptr<DetachedBox> box;
    try {
        box = std::make_unique<DetachedBox>(DetachedBox{caption, text, std::string(caption) + '\n' + text});
        if (!openBoxes().claim(box->key))
            return;
    } catch (const std::bad_alloc&) {
        return; // the box is lost, not the thread that raised it
    }
    const UniqueHandle thread(
        CreateThread(nullptr, kBoxThreadStack, showDetachedBox, box.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread) {
        openBoxes().release(box->key);
        return;
    }
    static_cast<void>(box.release()); // the box's thread owns it now
}

void BoxQueue::add(const char* text, const char* caption) noexcept
{
    try {
        boxes_.emplace_back(text, caption);
    } catch (const std::bad_alloc&) {
        // The report is lost, not the pass.
    }
}

void BoxQueue::showAll()
{
    for (const auto& [text, caption] : boxes_)
        report(caption, text.c_str());
    boxes_.clear();
}

void BoxQueue::openAll()
{
    for (const auto& [text, caption] : boxes_)
        reportWithoutWaiting(caption, text.c_str());
    boxes_.clear();
}

} // namespace lc
