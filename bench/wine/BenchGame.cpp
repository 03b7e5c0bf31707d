// The game side of the Wine benchmarks, installed as tovin.dll beside the launcher (or
// run alone to hold the Flash Player's objects for a bare program). It owns a window,
// the mutex and the section, listens on a reply name and runs one measurement:
//   TOVIN_BENCH="roundtrip N [GAP_MS]" | "idle SECONDS" | "download URL PATH" | "soak N KIND..."
//             | "flood KIND SECONDS URL PATH" | "gameend download URL PATH|dialog|box"
//             | "answers SLOW_URL SHORT_URL PATH" | "sessionend URL PATH"
// Results go to the file TOVIN_BENCH_OUT as "key value..." lines, ending with "done".
#include "FlashPlayerPeer.h"
#include "Flood.h"
#include "win/WinHandles.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char kConnector[] = "__qel.external.connector__";
constexpr char kReply[] = "tovin.bench.reply";

class Results {
public:
    Results()
    {
        const char* path = std::getenv("TOVIN_BENCH_OUT");
        file_ = std::fopen(path ? path : "bench.out", "a");
    }
    ~Results()
    {
        if (file_)
            std::fclose(file_);
    }
    Results(const Results&) = delete;
    Results& operator=(const Results&) = delete;

    void line(const std::string& text)
    {
        if (!file_)
            return;
        std::fputs((text + "\n").c_str(), file_);
        std::fflush(file_);
    }

private:
    FILE* file_;
};

double nowMs()
{
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerMs;
}

bool waitForLauncher(FlashPlayerPeer& peer)
{
    const ULONGLONG deadline = GetTickCount64() + 30000;
    while (GetTickCount64() < deadline) {
        for (const std::string& name : peer.tableNames())
            if (name == kConnector)
                return true;
        Sleep(20);
    }
    return false;
}

// Writes a call with the reply name first, as the game's content makes them.
bool writeCall(FlashPlayerPeer& peer, const std::string& method, const std::vector<std::string>& texts)
{
    CFlashLocalConnectionCall arguments("");
    arguments.addArgument(std::make_unique<CFlashAMFString>(kReply), false);
    for (const std::string& text : texts)
        arguments.addArgument(std::make_unique<CFlashAMFString>(text), false);
    return peer.sendCall(kConnector, method, arguments, 15000);
}

// One call with the reply name first, as the game's content makes them; the answer's
// method name, or "" when none came in time.
std::string call(FlashPlayerPeer& peer, const std::string& method, const std::vector<std::string>& texts,
                 DWORD answerTimeoutMs)
{
    if (!writeCall(peer, method, texts))
        return "";
    ReceivedMessage answer;
    if (!peer.receive(kReply, answerTimeoutMs, answer) || !answer.call)
        return "";
    return answer.call->getMethodName();
}

DWORD parentProcessId()
{
    DWORD parent = 0;
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry))
        if (entry.th32ProcessID == GetCurrentProcessId())
            parent = entry.th32ParentProcessID;
    return parent;
}

// The handle count as the system's process list gives it (Wine answers
// GetProcessHandleCount with 0; its list counts the handle table in blocks of 32).
long long handleCount(DWORD processId)
{
    using QueryFunction = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<std::uint8_t> buffer(1 << 20);
    ULONG length = 0;
    if (!query || query(SystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &length) != 0)
        return -1;
    for (std::size_t offset = 0; offset + sizeof(SYSTEM_PROCESS_INFORMATION) <= buffer.size();) {
        const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + offset);
        if (static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->UniqueProcessId)) == processId)
            return entry->HandleCount;
        if (entry->NextEntryOffset == 0)
            break;
        offset += entry->NextEntryOffset;
    }
    return -1;
}

// The launcher's private memory (KiB) and handle count. Private memory is the pagefile
// usage, which Windows reports as PrivateUsage too and Wine fills from the process's
// anonymous resident memory and swap.
std::string launcherUsage(HANDLE launcher, DWORD processId)
{
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    const bool gotMemory = GetProcessMemoryInfo(launcher, &memory, sizeof memory) != FALSE;
    return std::to_string(gotMemory ? static_cast<long long>(memory.PagefileUsage / 1024) : -1) + " " +
           std::to_string(handleCount(processId));
}

// Calls one after the other; with a gap, each waits a pseudo-random 0..gap-1 ms first,
// as calls made by a player's actions would.
int roundTrip(FlashPlayerPeer& peer, Results& results, int count, int gapMs)
{
    std::ostringstream samples;
    int answered = 0;
    unsigned seed = 12345;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        if (gapMs > 0)
            Sleep((seed >> 8) % static_cast<unsigned>(gapMs));
        const double start = nowMs();
        const bool ok = call(peer, "benchPing", {}, 5000) == "onUnknownMethod";
        samples << (ok ? nowMs() - start : -1.0) << ' ';
        answered += ok;
    }
    results.line("answered " + std::to_string(answered) + " " + std::to_string(count));
    results.line("roundtrip_ms " + samples.str());
    return answered == count ? 0 : 1;
}

int download(FlashPlayerPeer& peer, Results& results, const std::string& url, const std::string& path)
{
    const double start = nowMs();
    const std::string answer = call(peer, "HttpDownload", {url, path}, 900000);
    results.line("download_ms " + std::to_string(nowMs() - start));
    results.line("answer " + (answer.empty() ? std::string("none") : answer));
    return answer == "onHttpDownloadComplete" ? 0 : 1;
}

// A download that holds the launcher's main thread, and meanwhile full-size calls as
// fast as the slot allows; every call written and the download must be answered.
int flood(FlashPlayerPeer& peer, Results& results, const std::string& kind, int seconds, const std::string& url,
          const std::string& path)
{
    CFlashLocalConnectionCall download("");
    for (const std::string& text : {std::string(kReply), url, path})
        download.addArgument(std::make_unique<CFlashAMFString>(text), false);
    if (!peer.sendCall(kConnector, "HttpDownload", download, 15000)) {
        results.line("error the download call was not written");
        return 1;
    }
    std::deque<std::pair<std::string, ReceivedMessage>> others;
    const FloodResult flood =
        runFlood(peer, floodBody(kind, kReply), {kReply}, static_cast<unsigned>(seconds), 120000, others);
    std::string answer;
    if (!others.empty() && others.front().second.call) {
        answer = others.front().second.call->getMethodName();
    } else {
        ReceivedMessage message;
        if (peer.receive(kReply, 120000, message) && message.call)
            answer = message.call->getMethodName();
    }
    results.line("flood " + std::to_string(flood.written) + " " + std::to_string(flood.answered));
    results.line("answer " + (answer.empty() ? std::string("none") : answer));
    return flood.written == flood.answered && answer == "onHttpDownloadComplete" ? 0 : 1;
}

// The game ends while the launcher serves a call: a download under way, an open file
// dialog, or an open count box (one value of three). It writes "ending" and ends at
// once; the runner times the launcher's end from there.
int gameEnd(FlashPlayerPeer& peer, Results& results, const std::string& kind, const std::string& url,
            const std::string& path)
{
    std::vector<std::string> texts;
    std::string method;
    if (kind == "download") {
        method = "HttpDownload";
        texts = {url, path};
    } else if (kind == "dialog") {
        method = "BrowseFile";
        texts = {"C:\\", "", ""};
    } else {
        method = "ScreenResolutionEnable";
        texts = {"800"};
    }
    CFlashLocalConnectionCall arguments("");
    arguments.addArgument(std::make_unique<CFlashAMFString>(kReply), false);
    for (const std::string& text : texts)
        arguments.addArgument(std::make_unique<CFlashAMFString>(text), false);
    if (!peer.sendCall(kConnector, method, arguments, 15000)) {
        results.line("error the call was not written");
        return 1;
    }
    Sleep(2000); // the download under way, the dialog or the box open
    results.line("ending");
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}

// The worst time the launcher's window takes to answer a sent WM_NULL, sent every 100 ms
// for 3 s, as the desktop's broadcasts are sent; -1 when one got no answer in 5 s.
double worstAnswerMs(HWND window)
{
    double worst = 0;
    for (int i = 0; i < 30; ++i) {
        const double before = nowMs();
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result))
            return -1;
        worst = std::max(worst, nowMs() - before);
        Sleep(100);
    }
    return worst;
}

// How long a sent message waits for the launcher's window in four states: idle, during a
// download whose body trickles, while an answer waits for a slot that another
// connection's message holds, and while it waits for the mutex.
int answers(FlashPlayerPeer& peer, Results& results, const std::string& slowUrl, const std::string& shortUrl,
            const std::string& path)
{
    const HWND window = FindWindowA("TovinKorbaLauncher", nullptr);
    if (!window) {
        results.line("error no launcher window");
        return 1;
    }
    const auto report = [&](const char* state, double worst) {
        results.line(std::string("answer_") + state + " " + std::to_string(worst));
    };
    report("idle", worstAnswerMs(window));

    ReceivedMessage answer;
    if (!writeCall(peer, "HttpDownload", {slowUrl, path}))
        return 1;
    Sleep(500); // the transfer under way
    report("download", worstAnswerMs(window));
    peer.receive(kReply, 60000, answer);

    // A message for nobody holds the slot when the short download's answer is due.
    CFlashLocalConnectionCall hold("");
    if (!writeCall(peer, "HttpDownload", {shortUrl, path}) || !peer.sendCall("tovin.bench.nobody", "hold", hold, 5000))
        return 1;
    Sleep(1500); // the download is over: its answer waits
    report("slot", worstAnswerMs(window));
    peer.lock();
    lc::consumeMessage(peer.view());
    peer.unlock();
    peer.receive(kReply, 15000, answer);

    // The mutex is held when the short download's answer is due.
    if (!writeCall(peer, "HttpDownload", {shortUrl, path}))
        return 1;
    Sleep(100);
    peer.lock();
    Sleep(1400);
    report("mutex", worstAnswerMs(window));
    peer.unlock();
    const bool answered = peer.receive(kReply, 15000, answer) && answer.call;
    results.line(std::string("answered ") + (answered ? "yes" : "no"));
    return answered ? 0 : 1;
}

// The session ends during a download: writes "ending", sends WM_ENDSESSION as the
// log-off does, and says how long the answer took; the runner times the launcher's end.
int sessionEnd(FlashPlayerPeer& peer, Results& results, const std::string& url, const std::string& path)
{
    const HWND window = FindWindowA("TovinKorbaLauncher", nullptr);
    if (!window || !writeCall(peer, "HttpDownload", {url, path})) {
        results.line("error no launcher window, or the call was not written");
        return 1;
    }
    Sleep(2000); // the download under way
    results.line("ending");
    const double before = nowMs();
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &result);
    const bool ended = SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &result);
    results.line("endsession_answer_ms " + (ended ? std::to_string(nowMs() - before) : std::string("-1")));
    return ended ? 0 : 1;
}

// Calls in a row, cycling through `kinds`: "-" calls an unknown method, anything else is
// the URL of a download that fails.
int soak(FlashPlayerPeer& peer, Results& results, int count, const std::vector<std::string>& kinds)
{
    const DWORD launcherId = parentProcessId();
    const UniqueHandle launcherProcess(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, launcherId));
    HANDLE launcher = launcherProcess.get();
    if (!launcher) {
        results.line("error cannot open the launcher's process");
        return 1;
    }
    constexpr int kWarmUp = 100; // first WinINet use, first answers: not growth
    int unknownAnswers = 0, errorAnswers = 0;
    std::vector<double> errorMs(kinds.size()); // each failing kind's time, call to answer
    std::vector<int> errorCalls(kinds.size());
    results.line("usage_start " + launcherUsage(launcher, launcherId));
    for (int i = 0; i < count; ++i) {
        if (i == kWarmUp)
            results.line("usage_warm " + launcherUsage(launcher, launcherId));
        const std::size_t k = static_cast<std::size_t>(i) % kinds.size();
        if (kinds[k] == "-") {
            unknownAnswers += call(peer, "benchSoak", {}, 5000) == "onUnknownMethod";
            continue;
        }
        const double start = nowMs();
        errorAnswers += call(peer, "HttpDownload", {kinds[k], "soak.bin"}, 30000) == "onHttpDownloadError";
        errorMs[k] += nowMs() - start;
        ++errorCalls[k];
    }
    std::string eachMs;
    for (std::size_t k = 0; k < kinds.size(); ++k)
        if (errorCalls[k] > 0)
            eachMs += " " + std::to_string(errorMs[k] / errorCalls[k]);
    results.line("error_ms" + eachMs);
    results.line("usage_end " + launcherUsage(launcher, launcherId));
    const int lost = count - unknownAnswers - errorAnswers;
    results.line("answers " + std::to_string(unknownAnswers) + " " + std::to_string(errorAnswers) + " " +
                 std::to_string(lost));
    return lost == 0 ? 0 : 1;
}

int run(const std::string& command)
{
    std::istringstream words(command);
    std::string mode;
    words >> mode;
    Results results;
    FlashPlayerPeer peer;
    if (!peer.ok()) {
        results.line("error no section");
        return 1;
    }
    peer.setPollInterval(1);
    peer.registerName(kReply);
    int status = 1;
    if (mode == "idle") {
        // Silent: the objects exist, nobody calls. The runner samples CPU meanwhile.
        int seconds = 0;
        words >> seconds;
        results.line("ready");
        Sleep(static_cast<DWORD>(seconds) * 1000);
        status = 0;
    } else if (!waitForLauncher(peer)) {
        results.line("error the launcher never listened");
    } else if (mode == "roundtrip") {
        int count = 0, gapMs = 0;
        words >> count >> gapMs;
        status = roundTrip(peer, results, count, gapMs);
    } else if (mode == "download") {
        std::string url, path;
        words >> url >> path;
        status = download(peer, results, url, path);
    } else if (mode == "flood") {
        std::string kind, url, path;
        int seconds = 0;
        words >> kind >> seconds >> url >> path;
        status = flood(peer, results, kind, seconds, url, path);
    } else if (mode == "gameend") {
        std::string kind, url, path;
        words >> kind >> url >> path;
        status = gameEnd(peer, results, kind, url, path);
    } else if (mode == "answers") {
        std::string slowUrl, shortUrl, path;
        words >> slowUrl >> shortUrl >> path;
        status = answers(peer, results, slowUrl, shortUrl, path);
    } else if (mode == "sessionend") {
        std::string url, path;
        words >> url >> path;
        status = sessionEnd(peer, results, url, path);
    } else if (mode == "soak") {
        int count = 0;
        words >> count;
        std::vector<std::string> kinds;
        for (std::string kind; words >> kind;)
            kinds.push_back(kind);
        if (!kinds.empty())
            status = soak(peer, results, count, kinds);
    }
    results.line("done " + std::to_string(status));
    return status;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return message == WM_CLOSE ? 0 : DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "TovinBenchGame";
    RegisterClassA(&windowClass);
    CreateWindowExA(0, windowClass.lpszClassName, "bench game", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320, 240,
                    nullptr, nullptr, instance, nullptr);

    const char* command = std::getenv("TOVIN_BENCH");
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    const DWORD mainThread = GetCurrentThreadId();
    int status = 1;
    std::thread worker([&] {
        status = run(command ? command : "");
        PostThreadMessageA(mainThread, WM_QUIT, 0, 0);
    });
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    worker.join();
    return status;
}
