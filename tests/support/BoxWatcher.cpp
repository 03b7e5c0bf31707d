#include "support/BoxWatcher.h"

#include "win/WideText.h"

std::string windowText(HWND window)
{
    wchar_t text[4096] = {};
    // WM_GETTEXT reaches controls of other processes too, unlike GetWindowText; in UTF-16,
    // so that every name comes back whole.
    SendMessageTimeoutW(window, WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                        nullptr);
    return win::narrow(text);
}

std::string windowClass(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, ARRAYSIZE(name));
    return win::narrow(name);
}

namespace {

BOOL CALLBACK collectChild(HWND child, LPARAM param)
{
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
    return TRUE;
}

struct DialogSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK collectDialog(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<DialogSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) && windowClass(window) == "#32770")
        search->found.push_back(window);
    return TRUE;
}

} // namespace

std::vector<HWND> childWindows(HWND parent)
{
    std::vector<HWND> children;
    EnumChildWindows(parent, collectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

std::vector<HWND> topLevelDialogs(DWORD processId)
{
    DialogSearch search{processId ? processId : GetCurrentProcessId(), {}};
    EnumWindows(collectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BoxWatcher::BoxWatcher(DWORD processId, bool dismiss)
    : processId_(processId), dismiss_(dismiss), thread_([this] { poll(); })
{
}

BoxWatcher::~BoxWatcher()
{
    stop_ = true;
    thread_.join();
}

std::vector<SeenBox> BoxWatcher::boxes() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return boxes_;
}

bool BoxWatcher::waitForCount(std::size_t count, DWORD timeoutMs) const
{
    std::unique_lock<std::mutex> guard(lock_);
    return seen_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return boxes_.size() >= count; });
}

void BoxWatcher::dismissAll()
{
    for (HWND box : topLevelDialogs(processId_))
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

void BoxWatcher::poll()
{
    while (!stop_) {
        for (HWND box : topLevelDialogs(processId_)) {
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (handled_.count(box))
                    continue;
            }
            SeenBox seen;
            seen.caption = windowText(box);
            seen.owner = GetWindow(box, GW_OWNER);
            bool isMessageBox = true;
            for (HWND child : childWindows(box)) {
                const std::string kind = windowClass(child);
                if (kind == "Edit" || kind == "ComboBox" || kind == "SysListView32")
                    isMessageBox = false;
                if (kind != "Static")
                    continue;
                const LONG style = GetWindowLongA(child, GWL_STYLE);
                if ((style & SS_TYPEMASK) == SS_ICON) {
                    if (IsWindowVisible(child) && SendMessageA(child, STM_GETICON, 0, 0))
                        seen.hasIcon = true;
                } else {
                    const std::string text = windowText(child);
                    if (text.size() > seen.text.size())
                        seen.text = text;
                }
            }
            // A box still being filled in shows its caption or its text only once it is
            // done (every box of the launcher has both): read it again next round.
            if (!isMessageBox || seen.caption.empty() || seen.text.empty())
                continue;
            std::lock_guard<std::mutex> guard(lock_);
            handled_.insert(box);
            boxes_.push_back(seen);
            seen_.notify_all();
            if (dismiss_)
                PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
        {
            std::lock_guard<std::mutex> guard(lock_);
            for (auto it = handled_.begin(); it != handled_.end();)
                it = IsWindow(*it) ? std::next(it) : handled_.erase(it);
        }
        Sleep(20); // the window list has no event to wait on: look again shortly
    }
}
