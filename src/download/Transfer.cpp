#include "download/Transfer.h"

#include "win/CrashStack.h"
#include "win/WidePath.h"
#include "win/WideText.h"

#include <algorithm>
#include <cwchar>
#include <utility>
#include <vector>

namespace {

// After the stall limit gives up on a silent worker, how long the worker may take to let go.
constexpr DWORD kAbandonGraceMs = 5000;
// A copy over the destination, once begun, is let finish when the game or the session
// ends. Local disk work, so this is a ceiling that a sound disk never reaches.
constexpr DWORD kCopyFinishMs = 60000;
// How long an abandoned fetch may take to let go of its partial file: its pending
// WinINet call is cancelled, so it ends at once.
constexpr DWORD kLetGoMs = 500;
// Antivirus programs open a file as soon as it is written and closed, and a backup tool
// or the game itself may hold the destination: the final rename or copy then fails for a
// moment. As installers do, it is tried again for this long in all, in pauses of this,
// each of which ends at once with the game's or the session's end.
constexpr DWORD kHeldFileWaitMs = 2000;
constexpr DWORD kHeldFilePauseMs = 100;

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos)
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// The longest folder GetTempFileNameW is documented to take: it adds the file's name,
// and writes the whole into MAX_PATH units (Wine's writes past them for a longer one).
constexpr std::size_t kMaxTemporaryFolder = MAX_PATH - 14;

// A new empty file in `folder`, or "". The name's room is taken before the file is made,
// so that nothing after it can fail for memory. Some systems answer a name without
// having made the file: it must be there.
std::string temporaryFileIn(const std::string& folder, Transfer::NameMaker makeName)
{
    const std::wstring wideFolder = win::widen(folder);
    std::wstring name(MAX_PATH, L'\0');
    const DWORD fullLength = GetFullPathNameW(wideFolder.c_str(), 0, nullptr, nullptr);
    if (fullLength == 0 || fullLength - 1 > kMaxTemporaryFolder ||
        makeName(wideFolder.c_str(), L"tvn", 0, name.data()) == 0)
        return {};
    name.resize(std::wcslen(name.c_str()));
    if (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES)
        return {};
    return win::narrow(name);
}

// Whether `error` says that another program holds the file for now: a sharing or a lock
// violation, or access refused to a destination that exists as a writable file (one held
// open without its deletion shared).
bool heldByAnother(DWORD error, const std::string& destination)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        return true;
    if (error != ERROR_ACCESS_DENIED)
        return false;
    const DWORD attributes = GetFileAttributesW(win::widePath(destination).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
}

// Makes `call` (true once it has succeeded) again while it fails because another program
// holds the file, within kHeldFileWaitMs; a pause that `wake` ends stops the tries. False,
// with the last failure's error, when it never succeeded.
template <typename Call>
bool whileHeld(Call call, const std::string& destination, const win::ThreadWait& wait, HANDLE wake)
{
    for (DWORD paused = 0;; paused += kHeldFilePauseMs) {
        if (call())
            return true;
        const DWORD error = GetLastError();
        if (paused >= kHeldFileWaitMs || !heldByAnother(error, destination) ||
            wait.forOne(wake, kHeldFilePauseMs) != WAIT_TIMEOUT) {
            SetLastError(error);
            return false;
        }
    }
}

} // namespace

Transfer::Transfer(std::string url, std::string destination, const reask::Limits& limits, Write copyWrite,
                   NameMaker nameMaker)
    : url_(std::move(url)), destination_(std::move(destination)), copyWrite_(copyWrite ? copyWrite : WriteFile),
      nameMaker_(nameMaker ? nameMaker : GetTempFileNameW), downloader_(limits)
{
}

Transfer::~Transfer()
{
    file_.close();
    readBack_.close();
    deletePartialFile();
}

bool Transfer::makePartialFile()
{
    partialPath_ = temporaryFileIn(folderOf(destination_), nameMaker_);
    if (partialPath_.empty()) {
        std::wstring folder(MAX_PATH + 1, L'\0');
        const DWORD length = GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
        if (length == 0 || length >= folder.size())
            return false;
        folder.resize(length);
        partialPath_ = temporaryFileIn(win::narrow(folder), nameMaker_);
        copyOver_ = true;
    }
    if (partialPath_.empty())
        return false;
    // Shared for deletion: the partial file is deleted at once when the game ends,
    // while the worker may still be blocked in a read with the file open.
    const std::wstring partial = win::widen(partialPath_);
    file_.reset(CreateFileW(partial.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file_ && copyOver_)
        readBack_.reset(CreateFileW(partial.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return file_ && (!copyOver_ || readBack_);
}

void Transfer::start()
{
    worker_.reset(CreateThread(nullptr, 0, workerEntry, this, 0, nullptr));
    if (!worker_)
        run(); // no thread to spare: the transfer holds this one
}

DWORD WINAPI Transfer::workerEntry(void* transfer)
{
    win::keepStackForCrash();
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
// only, to the body's size. A copy that fails once it has opened the destination may
// have left it part new and part old: it is deleted, as a failed download's file is (or
// left empty, where the folder, which takes no new file, lets none go either).
bool Transfer::copyOver()
{
    std::vector<std::uint8_t>& chunk = downloader_.chunk();
    UniqueFileHandle to;
    // On the worker: a plain wait, which the game's or the session's end (abandon) ends.
    whileHeld(
        [&] {
            to.reset(CreateFileW(win::widePath(destination_).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            return static_cast<bool>(to);
        },
        destination_, win::ThreadWait(), downloader_.abandonEvent());
    if (!to || chunk.empty())
        return false;
    const auto copied = [&] {
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(readBack_.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr))
                return false;
            if (got == 0)
                return true;
            DWORD written = 0;
            if (!copyWrite_(to.get(), chunk.data(), got, &written, nullptr) || written != got)
                return false;
        }
    };
    if (copied() && SetEndOfFile(to.get()) && to.close())
        return true;
    // Part new, part old: emptied, then deleted where the folder lets it go.
    LARGE_INTEGER start = {};
    if (to && SetFilePointerEx(to.get(), start, nullptr, FILE_BEGIN))
        SetEndOfFile(to.get());
    to.close();
    DeleteFileW(win::widePath(destination_).c_str());
    return false;
}

// Every change the decision may make, in one place. A change not listed is refused, so
// an end never undoes another: once decided, a later end changes nothing, but the
// session's end may come during the wait of the game's end or of the silent worker's grace.
bool Transfer::decide(Decision to)
{
    static constexpr std::pair<Decision, Decision> kMoves[] = {
        {Decision::Open, Decision::Fetched},           {Decision::Open, Decision::Silencing},
        {Decision::Open, Decision::GameEnded},         {Decision::Open, Decision::SessionEnded},
        {Decision::Silencing, Decision::Fetched}, // the worker ended within its grace: its result stands
        {Decision::Silencing, Decision::Silent},  // it did not: the body counts as cut
        {Decision::Silencing, Decision::SessionEnded}, {Decision::GameEnded, Decision::SessionEnded},
        {Decision::Fetched, Decision::SessionEnded}, // during store()'s pauses: the partial file goes
    };
    if (std::find(std::begin(kMoves), std::end(kMoves), std::pair(decision_, to)) == std::end(kMoves))
        return false;
    decision_ = to;
    return true;
}

Transfer::End Transfer::finish(End end, const win::ThreadWait& wait, HANDLE ended)
{
    static constexpr Decision kFirst[] = {Decision::Fetched, Decision::Silencing, Decision::GameEnded,
                                          Decision::SessionEnded};
    if (decide(kFirst[static_cast<int>(end)])) {
        if (end == End::Silent)
            decide(letGoOfSilentWorker(wait, ended) ? Decision::Fetched : Decision::Silent);
        else if (end != End::Fetched)
            letGoForTheEnd(wait);
        // Only a complete fetch keeps its partial file, for store().
        if (decision_ != Decision::Fetched || result_.status != 200 || result_.writeFailed)
            deletePartialFile();
    }
    switch (decision_) {
    case Decision::Silent:
        return End::Silent;
    case Decision::GameEnded:
        return End::GameEnded;
    case Decision::SessionEnded:
        return End::SessionEnded;
    default:
        return End::Fetched;
    }
}

bool Transfer::letGoOfSilentWorker(const win::ThreadWait& wait, HANDLE ended)
{
    downloader_.abandon();
    if (wait.forAny({worker_.get(), ended}, kAbandonGraceMs) == WAIT_OBJECT_0)
        return true;
    int fetching = Fetching;
    if (stage_.compare_exchange_strong(fetching, Abandoned))
        return false;
    return wait.forAny({worker_.get(), ended}, kCopyFinishMs) == WAIT_OBJECT_0; // the copy had begun: its result stands
}

void Transfer::letGoForTheEnd(const win::ThreadWait& wait)
{
    downloader_.abandon();
    int fetching = Fetching;
    stage_.compare_exchange_strong(fetching, Abandoned);
    // A fetch let go of ends at once, and closes the partial file for its deletion.
    wait.forOne(worker_.get(), stage_.load() == Copying ? kCopyFinishMs : kLetGoMs);
}

HttpDownloadResult Transfer::result() const
{
    if (decision_ != Decision::Silent)
        return result_;
    HttpDownloadResult cut;
    cut.status = failure::kBodyCut;
    return cut;
}

void Transfer::deletePartialFile()
{
    if (partialPath_.empty())
        return;
    DeleteFileW(win::widen(partialPath_).c_str());
    partialPath_.clear(); // the name may be another download's from now on
}

bool Transfer::store(const win::ThreadWait& wait, HANDLE ended)
{
    if (copyOver_) {
        readBack_.close();
        deletePartialFile();
        return true;
    }
    // A pause serves messages: the session's end may delete the partial file meanwhile.
    const bool moved = whileHeld(
        [this] {
            return !partialPath_.empty() && MoveFileExW(win::widen(partialPath_).c_str(),
                                                        win::widePath(destination_).c_str(), MOVEFILE_REPLACE_EXISTING);
        },
        destination_, wait, ended);
    if (!moved) {
        deletePartialFile(); // the destination stays as it was
        return false;
    }
    partialPath_.clear(); // moved: the name may be another download's from now on
    return true;
}
