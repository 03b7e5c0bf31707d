// HttpDownload: one URL into one local file, answered with the outcome.
#include "services/HttpDownloader.h"
#include "services/LauncherServices.h"

#include <cstdio>
#include <string>

namespace {

constexpr char kCannotCreate[] = "Impossible de cr\xE9" "er le fichier de destination";
constexpr char kNot200[] = "Code de retour Http non \xE9" "gal \xE0 200";

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos)
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

void answerCannotCreate(const std::string& replyName, const std::string& path)
{
    std::vector<AmfValuePtr> values;
    values.push_back(std::make_unique<CFlashAMFString>(kCannotCreate));
    values.push_back(std::make_unique<CFlashAMFString>(path));
    sendAnswer(replyName, "onHttpDownloadError", std::move(values));
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

    // The body goes to a file of its own beside the destination, which it replaces only
    // once complete: a failed download leaves an existing file as it was.
    char partial[MAX_PATH] = {};
    if (!GetTempFileNameA(folderOf(path).c_str(), "tvn", 0, partial)) {
        answerCannotCreate(replyName, path);
        return;
    }
    const HttpDownloadResult result = CHttpDownloader().Download(url.c_str());
    if (result.status != 200) {
        DeleteFileA(partial);
        std::vector<AmfValuePtr> values;
        values.push_back(std::make_unique<CFlashAMFString>(kNot200));
        values.push_back(std::make_unique<CFlashAMFNumber>(result.status));
        sendAnswer(replyName, "onHttpDownloadError", std::move(values));
        return;
    }
    if (!writeWhole(partial, result.data) || !MoveFileExA(partial, path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(partial);
        answerCannotCreate(replyName, path);
        return;
    }
    sendAnswer(replyName, "onHttpDownloadComplete");
}
