// HttpDownload: one URL into one local file, answered with the outcome.
#include "localconnection/WinHandles.h"
#include "services/HttpDownloader.h"
#include "services/LauncherServices.h"

#include <cstdio>
#include <string>

namespace {

constexpr char kCannotCreate[] = "Impossible de cr\xE9"
                                 "er le fichier de destination";
constexpr char kNot200[] = "Code de retour Http non \xE9"
                           "gal \xE0 200";

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
    values.push_back(std::make_unique<CFlashAMFString>(kCannotCreate));
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

// Writes the whole body; false on any failed or short write.
bool writeWhole(const std::string& path, const std::vector<std::uint8_t>& body)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(body.data(), 1, body.size(), file) == body.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

} // namespace

void CLauncherServices::HttpDownload(CFlashLocalConnectionCall* call, const std::string& replyName, HWND)
{
    call->takeFirstArgument();
    const int count = static_cast<int>(call->getArguments().size());
    if (count != 2)
        showCountAlert("Nombre de param\xE8tres incorrect : %i", count);
    if (count < 2)
        return;
    const std::string url = call->takeFirstArgument()->toString();
    const std::string path = call->takeFirstArgument()->toString();

    if (!destinationWritable(path)) {
        answerCannotCreate(*this, replyName, path);
        return;
    }
    // The body goes to a file of its own beside the destination, which it replaces only
    // once complete: a failed download leaves an existing file as it was. A folder that
    // takes no new file gets the body written into the destination in place.
    char partial[MAX_PATH] = {};
    // Some systems answer a name without having made the file: it must be there.
    const bool beside = GetTempFileNameA(folderOf(path).c_str(), "tvn", 0, partial) != 0 &&
                        GetFileAttributesA(partial) != INVALID_FILE_ATTRIBUTES;
    const HttpDownloadResult result = CHttpDownloader().Download(url.c_str());
    if (result.status != 200) {
        if (beside)
            DeleteFileA(partial);
        std::vector<AmfValuePtr> values;
        values.push_back(std::make_unique<CFlashAMFString>(kNot200));
        values.push_back(std::make_unique<CFlashAMFNumber>(result.status));
        sendAnswer(replyName, "onHttpDownloadError", std::move(values));
        return;
    }
    const bool stored =
        beside ? writeWhole(partial, result.data) && MoveFileExA(partial, path.c_str(), MOVEFILE_REPLACE_EXISTING)
               : writeWhole(path, result.data);
    if (!stored) {
        if (beside)
            DeleteFileA(partial);
        answerCannotCreate(*this, replyName, path);
        return;
    }
    sendAnswer(replyName, "onHttpDownloadComplete");
}
