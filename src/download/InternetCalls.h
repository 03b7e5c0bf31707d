// The WinINet calls of a download, as a seam: the download makes every call through one
// of these, so that tests can stand in for WinINet where Windows may behave as Wine never
// does (a call that goes pending, a notice that never comes). This one calls WinINet.
#pragma once

#include <windows.h>

#include <wininet.h>

class InternetCalls {
public:
    static const InternetCalls& system()
    {
        static const InternetCalls calls;
        return calls;
    }

    InternetCalls() = default;
    virtual ~InternetCalls() = default;
    InternetCalls(const InternetCalls&) = delete;
    InternetCalls& operator=(const InternetCalls&) = delete;

    virtual HINTERNET open(const char* agent, DWORD flags) const
    {
        return InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, flags);
    }
    virtual INTERNET_STATUS_CALLBACK setCallback(HINTERNET session, INTERNET_STATUS_CALLBACK callback) const
    {
        return InternetSetStatusCallbackA(session, callback);
    }
    virtual BOOL setOption(HINTERNET handle, DWORD option, void* value, DWORD size) const
    {
        return InternetSetOptionA(handle, option, value, size);
    }
    // `headers`: null, or lines each ending in CRLF.
    virtual HINTERNET openUrl(HINTERNET session, const char* url, const char* headers, DWORD flags,
                              DWORD_PTR context) const
    {
        return InternetOpenUrlA(session, url, headers, headers ? static_cast<DWORD>(-1) : 0, flags, context);
    }
    virtual BOOL queryInfo(HINTERNET request, DWORD query, char* text, DWORD* length) const
    {
        return HttpQueryInfoA(request, query, text, length, nullptr);
    }
    virtual BOOL queryDataAvailable(HINTERNET request, DWORD* available) const
    {
        return InternetQueryDataAvailable(request, available, 0, 0);
    }
    virtual BOOL read(HINTERNET request, void* into, DWORD size, DWORD* got) const
    {
        return InternetReadFile(request, into, size, got);
    }
    virtual BOOL readWithoutWaiting(HINTERNET request, INTERNET_BUFFERSA* buffers, DWORD_PTR context) const
    {
        return InternetReadFileExA(request, buffers, IRF_NO_WAIT, context);
    }
    virtual BOOL close(HINTERNET handle) const { return InternetCloseHandle(handle); }
};
