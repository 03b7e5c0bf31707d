// The floor of a download: the launcher's WinINet calls with its 1024-byte reads, each
// chunk written straight to the file. Prints "download_ms T bytes N" to TOVIN_BENCH_OUT.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    LARGE_INTEGER frequency, start, stop;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    long long total = 0;
    bool ok = false;
    HINTERNET internet = InternetOpenA("Tovin-HTTP-Agent", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET request = internet ? InternetOpenUrlA(internet, argv[1], nullptr, 0, INTERNET_FLAG_RELOAD, 0) : nullptr;
    char status[32] = {};
    DWORD statusLength = sizeof status;
    if (request && HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE, status, &statusLength, nullptr) &&
        std::atoi(status) == 200) {
        DWORD announced = 0, announcedLength = sizeof announced;
        HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &announced, &announcedLength,
                       nullptr);
        if (FILE* file = std::fopen(argv[2], "wb")) {
            char chunk[1024];
            DWORD got = 0;
            ok = true;
            while (InternetReadFile(request, chunk, sizeof chunk, &got) && got > 0) {
                ok = ok && std::fwrite(chunk, 1, got, file) == got;
                total += got;
            }
            ok = std::fclose(file) == 0 && ok && total == announced;
        }
    }
    if (request)
        InternetCloseHandle(request);
    if (internet)
        InternetCloseHandle(internet);
    QueryPerformanceCounter(&stop);
    const double ms = 1000.0 * static_cast<double>(stop.QuadPart - start.QuadPart) / frequency.QuadPart;
    const char* out = std::getenv("TOVIN_BENCH_OUT");
    if (FILE* results = std::fopen(out ? out : "bench.out", "a")) {
        std::fprintf(results, "download_ms %f bytes %lld\ndone %d\n", ms, total, ok ? 0 : 1);
        std::fclose(results);
    }
    return ok ? 0 : 1;
}
