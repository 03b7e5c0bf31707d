// HttpDownload: one URL into one local file, answered with the outcome.
#include "download/Transfer.h"
#include "reports/ReportNotes.h"
#include "resources/Texts.h"
#include "services/CallArguments.h"
#include "services/LauncherServices.h"
#include "win/WidePath.h"
#include "win/WinHandles.h"

#include <memory>
#include <string>
#include <vector>

namespace {

// How often the wait for the worker looks at its watch.
constexpr DWORD kWatchMs = 500;

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
    const std::wstring wide = win::widePath(path);
    // Asked first: a file system that lets its owner write anyway must not overrule it.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    UniqueFileHandle file(CreateFileW(wide.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
    file.close();
    if (created)
        DeleteFileW(wide.c_str());
    return true;
}

} // namespace

Transfer& CLauncherServices::keep(std::unique_ptr<Transfer> transfer)
{
    releaseEndedTransfers();
    transfers_.push_back(std::move(transfer));
    return *transfers_.back();
}

void CLauncherServices::releaseEndedTransfers()
{
    std::erase_if(transfers_, [](const std::unique_ptr<Transfer>& transfer) {
        return !transfer->inUse() && transfer->workerEnded();
    });
}

void CLauncherServices::HttpDownload(CFlashLocalConnectionCall* call, const std::string& replyName, HWND)
{
    CallArguments arguments(*call);
    const int count = arguments.left();
    if (count != 2)
        showCountAlert(texts::kCountIncorrect, count);
    // The game may have ended while the box was open: then nothing is fetched.
    if (count < 2 || hasEnded())
        return;
    const std::string url = arguments.nextText();
    const std::string path = arguments.nextText();

    if (!destinationWritable(path)) {
        answerCannotCreate(*this, replyName, path);
        return;
    }
    auto made = std::make_unique<Transfer>(url, path, downloadTimings_.fetch, downloadTimings_.copyWrite,
                                           downloadTimings_.nameMaker);
    if (!made->makePartialFile()) {
        answerCannotCreate(*this, replyName, path);
        return;
    }
    // Kept here until this handler is done with it and its worker has ended: a box of
    // the answer below may let another download in, which frees the ended transfers.
    Transfer& transfer = keep(std::move(made));
    const Transfer::Use use(transfer);
    transfer.start();
    notes::noteDownload(url, &transfer.bytesWritten()); // for a report: what was being fetched

    // The worker fetches while this thread waits, serving every message but the calls,
    // which wait their turn (answers stay in call order).
    const win::ThreadWait wait = threadWait();
    Transfer::End end = Transfer::End::Fetched;
    while (!transfer.workerEnded()) {
        const DWORD waited = wait.forAny({transfer.worker(), endedEvent()}, kWatchMs);
        if (waited == WAIT_OBJECT_0 + 1) {
            end = sessionEnded_ ? Transfer::End::SessionEnded : Transfer::End::GameEnded;
            break;
        }
        if (waited == WAIT_FAILED) {
            wait.forOne(transfer.worker(), INFINITE);
            break;
        }
        // The last resort: the worker bounds each of its own waits, so one quiet for
        // longer than it can be is stuck.
        if (transfer.fetching() && transfer.silentFor(downloadTimings_.stallLimitMs())) {
            end = Transfer::End::Silent;
            break;
        }
    }
    end = transfer.finish(end, wait, endedEvent());
    // Nobody is left to answer once the game or the session has ended.
    if (end == Transfer::End::GameEnded || end == Transfer::End::SessionEnded || hasEnded())
        return;
    const HttpDownloadResult result = transfer.result();
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
    if (!transfer.store(wait, endedEvent())) {
        answerCannotCreate(*this, replyName, path);
        return;
    }
    sendAnswer(replyName, "onHttpDownloadComplete");
}
