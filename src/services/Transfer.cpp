#include "services/Transfer.h"

#include <cstring>
#include <vector>

namespace {

// After a silent transfer is abandoned, how long its worker may take to let go.
constexpr DWORD kAbandonGraceMs = 5000;
// A copy over the destination, once begun, is let finish when the game or the session
// ends. Local disk work, so this is a ceiling that a sound disk never reaches.
constexpr DWORD kCopyFinishMs = 60000;
// How long an abandoned fetch may take to let go of its partial file: its pending
// WinINet call is cancelled, so it ends at once.
constexpr DWORD kLetGoMs = 500;

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos)
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// A new empty file in `folder`, or "". The name's room is taken before the file is made,
// so that nothing after it can fail for memory. Some systems answer a name without
// having made the file: it must be there.
std::string temporaryFileIn(const std::string& folder)
{
    std::string name(MAX_PATH, '\0');
    if (GetTempFileNameA(folder.c_str(), "tvn", 0, name.data()) == 0)
        return {};
    name.resize(std::strlen(name.c_str()));
    if (GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES)
        return {};
    return name;
}

} // namespace

Transfer::Transfer(std::string url, std::string destination, Write copyWrite)
    : url_(std::move(url)), destination_(std::move(destination)), copyWrite_(copyWrite ? copyWrite : WriteFile)
{
}

Transfer::~Transfer()
{
    file_.close();
    if (!partialPath_.empty())
        DeleteFileA(partialPath_.c_str());
}

bool Transfer::makePartialFile()
{
    partialPath_ = temporaryFileIn(folderOf(destination_));
    if (partialPath_.empty()) {
        std::string folder(MAX_PATH + 1, '\0');
        const DWORD length = GetTempPathA(static_cast<DWORD>(folder.size()), folder.data());
        if (length == 0 || length >= folder.size())
            return false;
        folder.resize(length);
        partialPath_ = temporaryFileIn(folder);
        copyOver_ = true;
    }
    if (partialPath_.empty())
        return false;
    // Shared for deletion: the partial file is deleted at once when the game ends,
    // while the worker may still be blocked in a read with the file open.
    file_.reset(CreateFileA(partialPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file_);
}

void Transfer::start()
{
    worker_.reset(CreateThread(nullptr, 0, workerEntry, this, 0, nullptr));
    if (!worker_)
        run(); // no thread to spare: the transfer holds this one
}

DWORD WINAPI Transfer::workerEntry(void* transfer)
{
    static_cast<Transfer*>(transfer)->run();
    return 0;
}

void Transfer::run()
{
    HttpDownloadResult result = downloader_.Download(url_.c_str(), file_.get());
    // A write the system held back may fail only now.
    if (!file_.close())
        result.writeFailed = true;
    int fetching = Fetching;
    if (result.status == 200 && !result.writeFailed && copyOver_ && stage_.compare_exchange_strong(fetching, Copying))
        result.writeFailed = !copyOver();
    result_ = result;
}

// Copies the whole partial file over the destination with the transfer's buffer, so
// the copy too holds no more than one read. The destination is truncated at the end
// only, to the body's size.
bool Transfer::copyOver()
{
    UniqueFileHandle from(CreateFileA(partialPath_.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    UniqueFileHandle to(CreateFileA(destination_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!from || !to)
        return false;
    std::vector<std::uint8_t>& chunk = downloader_.chunk();
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr))
            return false;
        if (got == 0)
            break;
        DWORD written = 0;
        if (!copyWrite_(to.get(), chunk.data(), got, &written, nullptr) || written != got)
            return false;
    }
    return SetEndOfFile(to.get()) && to.close();
}

Transfer::End Transfer::finish(End end, const win::ThreadWait& wait, HANDLE ended)
{
    const bool endsTheSession = end == End::SessionEnded && (end_ == End::Silent || end_ == End::GameEnded);
    if (decided_ && !endsTheSession)
        return end_;
    decided_ = true;
    end_ = end;
    // True when the worker ended within `ms`; false when it did not, or the end came.
    const auto workerEndsWithin = [&](DWORD ms) { return wait.forAny({worker_.get(), ended}, ms) == WAIT_OBJECT_0; };
    switch (end) {
    case End::Fetched:
        break;
    case End::Silent: {
        downloader_.abandon();
        bool done = workerEndsWithin(kAbandonGraceMs);
        if (end_ != End::Silent)
            return end_; // the session ended during the grace, and did its part
        int fetching = Fetching;
        if (!done && !stage_.compare_exchange_strong(fetching, Abandoned))
            done = wait.forOne(worker_.get(), kCopyFinishMs) == WAIT_OBJECT_0; // the copy had begun: its result stands
        if (end_ != End::Silent)
            return end_;
        if (done) {
            end_ = End::Fetched;
        } else {
            result_ = {};
            result_.status = 5;
        }
        break;
    }
    case End::GameEnded:
    case End::SessionEnded: {
        downloader_.abandon();
        int fetching = Fetching;
        stage_.compare_exchange_strong(fetching, Abandoned);
        const bool copying = stage_.load() == Copying;
        // A fetch let go of ends at once, and closes the partial file for its deletion.
        wait.forOne(worker_.get(), copying ? kCopyFinishMs : kLetGoMs);
        break;
    }
    }
    if (end_ != End::Fetched || result_.status != 200 || result_.writeFailed)
        DeleteFileA(partialPath_.c_str());
    return end_;
}

bool Transfer::store()
{
    if (copyOver_)
        return true;
    return MoveFileExA(partialPath_.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}
