// The floor of a download: the launcher's WinINet calls with its read size, each read
// written straight to the file, on one thread. Results go to TOVIN_BENCH_OUT.
//   bench_bare_wininet URL PATH          download_ms T bytes N
//   bench_bare_wininet --repeat N URL    growth_kib G: private memory grown over N failing
//                                        requests made the launcher's way, after a warm-up
#include "download/ContentLength.h"
#include "download/InternetHandle.h"
#include "download/WinInetFetch.h"

#include <psapi.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr char kUserAgent[] = "Tovin-HTTP-Agent";

struct Request {
    UniqueInternetHandle internet;
    UniqueInternetHandle request; // closed before the session
    int status = 0;

    explicit Request(const char* url)
        : internet(InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0))
    {
        if (internet)
            request.reset(InternetOpenUrlA(internet.get(), url, nullptr, 0, INTERNET_FLAG_RELOAD, 0));
        char text[32] = {};
        DWORD length = sizeof text;
        if (request && HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE, text, &length, nullptr))
            status = std::atoi(text);
    }
};

void report(const std::string& line)
{
    const char* out = std::getenv("TOVIN_BENCH_OUT");
    if (FILE* results = std::fopen(out ? out : "bench.out", "a")) {
        std::fputs(line.c_str(), results);
        std::fclose(results);
    }
}

long long privateKib()
{
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    return static_cast<long long>(memory.PagefileUsage / 1024);
}

int download(const char* url, const char* path)
{
    LARGE_INTEGER frequency, start, stop;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    long long total = 0;
    bool ok = false;
    {
        Request request(url);
        if (request.status == 200) {
            char text[64] = {};
            DWORD length = sizeof text - 1;
            const std::optional<std::uint64_t> announced =
                HttpQueryInfoA(request.request.get(), HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr)
                    ? parseContentLength(text)
                    : std::nullopt;
            const UniqueFileHandle file(
                CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file) {
                std::vector<char> chunk(CHttpDownloader::kReadSize);
                DWORD got = 0;
                ok = true;
                while (InternetReadFile(request.request.get(), chunk.data(), CHttpDownloader::kReadSize, &got) &&
                       got > 0) {
                    DWORD written = 0;
                    ok = ok && WriteFile(file.get(), chunk.data(), got, &written, nullptr) && written == got;
                    total += got;
                }
                ok = ok && (!announced || static_cast<std::uint64_t>(total) == *announced);
            }
        }
    }
    QueryPerformanceCounter(&stop);
    const double ms = 1000.0 * static_cast<double>(stop.QuadPart - start.QuadPart) / frequency.QuadPart;
    report("download_ms " + std::to_string(ms) + " bytes " + std::to_string(total) + "\ndone " +
           std::to_string(ok ? 0 : 1) + "\n");
    return ok ? 0 : 1;
}

int repeat(int count, const char* url)
{
    for (int i = 0; i < 25; ++i)
        Request warmUp(url);
    const long long before = privateKib();
    for (int i = 0; i < count; ++i)
        Request request(url);
    report("growth_kib " + std::to_string(privateKib() - before) + " requests " + std::to_string(count) + "\ndone 0\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--repeat")
        return repeat(std::atoi(argv[2]), argv[3]);
    return argc == 3 ? download(argv[1], argv[2]) : 2;
}
