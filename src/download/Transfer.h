// One download's transfer: the partial file the body goes to, the worker thread that
// fetches it (and copies it over the destination where the destination's folder takes
// no new file), and the one decision of how the transfer ended.
#pragma once

#include "download/Reask.h"
#include "download/WinInetFetch.h"
#include "win/ThreadWait.h"
#include "win/WinHandles.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class Transfer {
public:
    using Write = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    // Makes a new empty file with a name of its own in a folder (GetTempFileNameW).
    using NameMaker = UINT(WINAPI*)(LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name);

    // How a transfer ended.
    enum class End {
        Fetched,      // the worker ended: its result says how
        Silent,       // the worker showed no sign of life for too long: the body counts as cut
        GameEnded,    // nobody is left to answer
        SessionEnded, // the log-off: the process may be ended at any moment
    };

    // Holds the read buffer: made before any file, so that running out of memory here
    // leaves nothing behind. Null writers and name makers are the system's.
    Transfer(std::string url, std::string destination, const reask::Limits& limits, Write copyWrite,
             NameMaker nameMaker);
    // Deletes the partial file, if it still has one. The worker must have ended, or never
    // have started.
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Marks the transfer as used by its download's handler for the scope.
    class Use {
    public:
        explicit Use(Transfer& transfer) : transfer_(transfer) { ++transfer_.users_; }
        ~Use() { --transfer_.users_; }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

    private:
        Transfer& transfer_;
    };
    bool inUse() const { return users_ > 0; }

    // Makes the partial file, beside the destination or else in the system's temporary
    // folder (copied over the destination at the end); owned by this object from the
    // moment it exists until it is moved or deleted. False when no file could be made.
    bool makePartialFile();
    // Runs the worker on a thread of its own; with no thread to spare, on this one.
    void start();
    HANDLE worker() const { return worker_.get(); }
    bool workerEnded() const { return !worker_ || WaitForSingleObject(worker_.get(), 0) == WAIT_OBJECT_0; }
    // Still fetching: the stall limit applies (not once the copy has begun).
    bool fetching() const { return stage_.load() == Fetching; }
    bool silentFor(DWORD limitMs) const { return downloader_.watch().silentFor(limitMs); }
    // What is being fetched, and the body bytes in the partial file so far (back to 0 when
    // a body starts over): readable from any thread, at any time, without a lock (for a
    // crash report).
    const std::string& url() const { return url_; }
    const std::atomic<std::uint64_t>& bytesWritten() const { return downloader_.written(); }

    // The one place that decides how the transfer ended, and does what that end needs;
    // `ended` (the services' end) cuts the waits short. The decision is taken once; the
    // only later change is the session's end, which may come (re-entering from a sent
    // message) during another end's wait or store()'s, and then does its own part before
    // the process can be ended. Every allowed change is listed in Transfer.cpp (kMoves).
    End finish(End end, const win::ThreadWait& wait, HANDLE ended);
    // What to answer once finished as Fetched or Silent.
    HttpDownloadResult result() const;
    // Moves a complete body to the destination (the copy did it already where one was
    // needed), trying again for a moment while another program holds either file; `wait`
    // pauses, and `ended` ends the tries. False when it could not: the partial file is
    // deleted, the destination left as it was.
    bool store(const win::ThreadWait& wait, HANDLE ended);

private:
    enum Stage { Fetching, Copying, Abandoned };
    // The decision, as kMoves lets it change. Silencing: the stall limit gave up on the worker,
    // which has a grace to end on its own.
    enum class Decision { Open, Fetched, Silencing, Silent, GameEnded, SessionEnded };

    static DWORD WINAPI workerEntry(void* transfer);
    void run();
    bool copyOver();
    bool decide(Decision to);
    // The silent worker let go of: true when it ended within its grace, or had begun its
    // copy and finished it, so that its own result stands.
    bool letGoOfSilentWorker(const win::ThreadWait& wait, HANDLE ended);
    // The game's or the session's end: the fetch abandoned, a begun copy let finish.
    void letGoForTheEnd(const win::ThreadWait& wait);
    void deletePartialFile();

    const std::string url_;
    const std::string destination_;
    const Write copyWrite_;
    const NameMaker nameMaker_;
    std::string partialPath_; // UTF-8; empty until made, and again once moved or deleted
    bool copyOver_ = false;
    UniqueFileHandle file_;     // the partial file, closed by the worker once the body is in
    UniqueFileHandle readBack_; // the same file, read by the copy over the destination
    CHttpDownloader downloader_;
    HttpDownloadResult result_; // written by the worker; read once it has ended
    // Who comes first, the worker's copy over the destination or the game's end.
    std::atomic<int> stage_{Fetching};
    UniqueHandle worker_;
    int users_ = 0;
    Decision decision_ = Decision::Open;
};
