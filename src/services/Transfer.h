// One download's transfer: the partial file the body goes to, the worker thread that
// fetches it (and copies it over the destination where the destination's folder takes
// no new file), and the one decision of how the transfer ended.
#pragma once

#include "services/WinInetFetch.h"
#include "win/ThreadWait.h"
#include "win/WinHandles.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

class Transfer {
public:
    using Write = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

    // How a transfer ended; decided once (finish), whoever asks first.
    enum class End {
        Fetched,      // the worker ended: its result says how
        Silent,       // no byte came for too long while fetching: the body counts as cut
        GameEnded,    // nobody is left to answer
        SessionEnded, // the log-off: the process may be ended at any moment
    };

    // Holds the read buffer: made before any file, so that running out of memory here
    // leaves nothing behind.
    Transfer(std::string url, std::string destination, Write copyWrite);
    // Deletes the partial file. The worker must have ended, or never have started.
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
    // moment it exists. False when no file could be made.
    bool makePartialFile();
    // Runs the worker on a thread of its own; with no thread to spare, on this one.
    void start();
    HANDLE worker() const { return worker_.get(); }
    bool workerEnded() const { return !worker_ || WaitForSingleObject(worker_.get(), 0) == WAIT_OBJECT_0; }
    // Still fetching: the silence watch applies (not once the copy has begun).
    bool fetching() const { return stage_.load() == Fetching; }
    bool silentFor(DWORD limitMs) const { return downloader_.watch().silentFor(limitMs); }
    // Body bytes in the partial file so far, readable from any thread without a lock.
    const std::atomic<std::uint64_t>& bytesWritten() const { return downloader_.written(); }

    // The one place that decides how the transfer ended, and does what that end needs.
    // Silent: abandons the fetch, which cancels its pending WinINet call, and gives
    // the worker a grace to let go; a worker that ends within it, or that has begun its
    // copy, ends the transfer with its own result. Game or session ended: abandons the
    // fetch, and waits for a copy that has begun, since stopped halfway it would leave a
    // file part new and part old. The partial file is deleted on every end but a complete
    // fetch. `ended` (the services' end) cuts the waits short. Once decided, a later call
    // gives the first end, except the session's end, which may come (re-entering from a
    // sent message) during another end's wait and then does its own part before the
    // process can be ended.
    End finish(End end, const win::ThreadWait& wait, HANDLE ended);
    // The worker's result, once it has ended.
    const HttpDownloadResult& result() const { return result_; }
    // Moves a complete body to the destination (the copy did it already where one was
    // needed). False when it could not.
    bool store();

private:
    enum Stage { Fetching, Copying, Abandoned };

    static DWORD WINAPI workerEntry(void* transfer);
    void run();
    bool copyOver();

    const std::string url_;
    const std::string destination_;
    const Write copyWrite_;
    std::string partialPath_; // empty until made
    bool copyOver_ = false;
    UniqueFileHandle file_; // the partial file, closed by the worker once the body is in
    CHttpDownloader downloader_;
    HttpDownloadResult result_; // read once the worker has ended
    // Who comes first, the worker's copy over the destination or the game's end.
    std::atomic<int> stage_{Fetching};
    UniqueHandle worker_;
    int users_ = 0;
    bool decided_ = false;
    End end_ = End::Fetched;
};
