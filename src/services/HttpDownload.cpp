// HttpDownload: one URL into one local file, answered with the outcome.
#include "resources/Texts.h"
#include "services/CallArguments.h"
#include "services/LauncherServices.h"
#include "services/WinInetFetch.h"
#include "win/WinHandles.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace {

// After closing a silent transfer's handles, how long its worker may take to let go.
constexpr DWORD kAbandonGraceMs = 5000;
// A copy over the destination, once begun, is let finish when the game ends: stopped
// halfway it would leave a file that is neither the old one nor the new. Local disk
// work, so this is a ceiling that a sound disk never reaches.
constexpr DWORD kCopyFinishMs = 60000;

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos)
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

void answerCannotCreate(CLauncherServices& services, const std::string& replyName, const std::string& path)
{
    std::vector<AmfValuePtr> values;
    values.push_back(std::make_unique<CFlashAMFString>(texts::kCannotCreateDestination));
    values.push_back(std::make_unique<CFlashAMFString>(path));
    services.sendAnswer(replyName, "onHttpDownloadError", std::move(values));
}

// The destination itself must take a write, not only its folder: an existing file is
// opened for writing without being truncated, a new one is created and removed again.
// A folder, an invalid name or a read-only file fails here, before any request.
bool destinationWritable(const std::string& path)
{
    // Asked first: a file system that lets its owner write anyway must not overrule it.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
    file.close();
    if (created)
        DeleteFileA(path.c_str());
    return true;
}

// Where the body goes while it arrives: a file of its own beside the destination, which
// replaces the destination only once complete. A folder that takes no new file gets one
// in the system's temporary folder, copied over the destination at the end.
struct PartialFile {
    std::string path; // empty: no file could be made
    bool copyOver = false;
};

// Some systems answer a name without having made the file: it must be there.
std::string temporaryFileIn(const std::string& folder)
{
    char name[MAX_PATH] = {};
    if (GetTempFileNameA(folder.c_str(), "tvn", 0, name) == 0 || GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES)
        return {};
    return name;
}

PartialFile partialFileFor(const std::string& path)
{
    PartialFile partial{temporaryFileIn(folderOf(path))};
    if (!partial.path.empty())
        return partial;
    char folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder)
        return partial;
    partial.path = temporaryFileIn(folder);
    partial.copyOver = true;
    return partial;
}

// One transfer, shared by the handler and its worker thread: whichever lets go last
// frees it, so a worker left behind by an abandoned transfer still has all it uses.
struct Transfer {
    Transfer(std::string url, UniqueFileHandle file, std::string partialPath, std::string copyTo)
        : url(std::move(url)), file(std::move(file)), partialPath(std::move(partialPath)), copyTo(std::move(copyTo))
    {
    }
    const std::string url;
    UniqueFileHandle file; // the partial file, closed by the worker once the body is in
    const std::string partialPath;
    const std::string copyTo; // the destination, when the partial file is copied over it
    CHttpDownloader downloader;
    HttpDownloadResult result; // read once the worker has ended
    // Who comes first, the worker's copy over the destination or the game's end.
    enum Stage { Fetching, Copying, Abandoned };
    std::atomic<int> stage{Fetching};
};

// Copies the whole partial file over the destination with the transfer's buffer, so
// the copy too holds no more than one read. The destination is truncated at the end
// only, to the body's size.
bool copyOver(Transfer& transfer)
{
    UniqueFileHandle from(CreateFileA(transfer.partialPath.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    UniqueFileHandle to(CreateFileA(transfer.copyTo.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!from || !to)
        return false;
    std::vector<std::uint8_t>& chunk = transfer.downloader.chunk();
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr))
            return false;
        if (got == 0)
            break;
        DWORD written = 0;
        if (!WriteFile(to.get(), chunk.data(), got, &written, nullptr) || written != got)
            return false;
    }
    return SetEndOfFile(to.get()) && to.close();
}

DWORD WINAPI runTransfer(void* parameter)
{
    const std::unique_ptr<std::shared_ptr<Transfer>> owner(static_cast<std::shared_ptr<Transfer>*>(parameter));
    Transfer& transfer = **owner;
    HttpDownloadResult result = transfer.downloader.Download(transfer.url.c_str(), transfer.file.get());
    // A write the system held back may fail only now.
    if (!transfer.file.close())
        result.writeFailed = true;
    int fetching = Transfer::Fetching;
    if (result.status == 200 && !result.writeFailed && !transfer.copyTo.empty() &&
        transfer.stage.compare_exchange_strong(fetching, Transfer::Copying))
        result.writeFailed = !copyOver(transfer);
    transfer.result = result;
    return 0;
}

enum class TransferEnd { Done, GameEnded, Silent };

// Waits for the worker without serving any message (answers stay in call order), and
// for the game, whose end abandons the transfer at once. The watch on silence backs up
// WinINet's receive limit, which some versions do not apply to every read.
TransferEnd awaitTransfer(HANDLE worker, HANDLE game, const CHttpDownloader& downloader)
{
    constexpr DWORD kWatchMs = 500;
    constexpr DWORD kSilenceLimitMs = CHttpDownloader::kSilenceMs + 5000;
    HANDLE handles[] = {worker, game};
    DWORD count = game ? 2 : 1;
    for (;;) {
        const DWORD waited = WaitForMultipleObjects(count, handles, FALSE, kWatchMs);
        if (waited == WAIT_OBJECT_0)
            return TransferEnd::Done;
        if (waited == WAIT_OBJECT_0 + 1)
            return TransferEnd::GameEnded;
        if (waited == WAIT_FAILED && count == 2)
            count = 1; // a game handle that cannot be waited on: the exit watch tells instead
        else if (waited == WAIT_FAILED)
            return WaitForSingleObject(worker, INFINITE) == WAIT_OBJECT_0 ? TransferEnd::Done : TransferEnd::Silent;
        if (GetTickCount() - downloader.lastProgress() >= kSilenceLimitMs)
            return TransferEnd::Silent;
    }
}

} // namespace

void CLauncherServices::HttpDownload(CFlashLocalConnectionCall* call, const std::string& replyName, HWND)
{
    CallArguments arguments(*call);
    const int count = arguments.left();
    if (count != 2)
        showCountAlert(texts::kCountIncorrect, count);
    // The game may have ended while the box was open: then nothing is fetched.
    if (count < 2 || gameHasEnded())
        return;
    const std::string url = arguments.nextText();
    const std::string path = arguments.nextText();

    if (!destinationWritable(path)) {
        answerCannotCreate(*this, replyName, path);
        return;
    }
    const PartialFile partial = partialFileFor(path);
    UniqueFileHandle file;
    if (!partial.path.empty()) {
        // Shared for deletion: the handler removes the file at once when the game ends,
        // while the worker may still be blocked in a read with the file open.
        file.reset(CreateFileA(partial.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                               TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            DeleteFileA(partial.path.c_str());
    }
    if (!file) {
        answerCannotCreate(*this, replyName, path);
        return;
    }
    auto transfer = std::make_shared<Transfer>(url, std::move(file), partial.path, partial.copyOver ? path : "");
    auto workerShare = std::make_unique<std::shared_ptr<Transfer>>(transfer);
    const UniqueHandle worker(CreateThread(nullptr, 0, runTransfer, workerShare.get(), 0, nullptr));
    TransferEnd end = TransferEnd::Done;
    HttpDownloadResult result;
    if (worker) {
        static_cast<void>(workerShare.release()); // the worker owns its share now
        end = awaitTransfer(worker.get(), gameProcess(), transfer->downloader);
        if (end == TransferEnd::Silent) {
            // Closing the handles ends the blocking read; the worker is not waited for
            // past the grace, and the body counts as cut either way.
            transfer->downloader.abandon();
            const HANDLE handles[] = {worker.get(), gameProcess()};
            if (WaitForMultipleObjects(handles[1] ? 2 : 1, handles, FALSE, kAbandonGraceMs) == WAIT_OBJECT_0 + 1)
                end = TransferEnd::GameEnded;
            result.status = 5;
        } else if (end == TransferEnd::Done) {
            result = transfer->result;
        }
    } else {
        runTransfer(workerShare.release()); // no thread to spare: the transfer holds this one
        result = transfer->result;
    }
    // The game has ended: nobody is left to answer, and the launcher ends next.
    if (end == TransferEnd::GameEnded || gameHasEnded()) {
        transfer->downloader.abandon();
        int fetching = Transfer::Fetching;
        if (!transfer->stage.compare_exchange_strong(fetching, Transfer::Abandoned) && worker) {
            RestoreDisplayMode(); // the player's desktop does not wait for the copy
            WaitForSingleObject(worker.get(), kCopyFinishMs);
        }
        DeleteFileA(partial.path.c_str());
        return;
    }
    if (result.writeFailed || result.status != 200)
        DeleteFileA(partial.path.c_str());
    if (result.writeFailed) {
        answerCannotCreate(*this, replyName, path);
        return;
    }
    if (result.status != 200) {
        std::vector<AmfValuePtr> values;
        values.push_back(std::make_unique<CFlashAMFString>(texts::kHttpStatusNot200));
        values.push_back(std::make_unique<CFlashAMFNumber>(result.status));
        sendAnswer(replyName, "onHttpDownloadError", std::move(values));
        return;
    }
    const bool stored =
        partial.copyOver || MoveFileExA(partial.path.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    if (partial.copyOver || !stored)
        DeleteFileA(partial.path.c_str());
    if (!stored) {
        answerCannotCreate(*this, replyName, path);
        return;
    }
    sendAnswer(replyName, "onHttpDownloadComplete");
}
