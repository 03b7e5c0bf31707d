// The WinINet calls of a download, as a seam: the download makes every call through one
// of these, so that tests can stand in for WinINet where Windows may behave as Wine never
// does (a call that goes pending, a notice that never comes). This one calls WinINet.
// Texts cross the seam in UTF-8 and meet WinINet in UTF-16.
#pragma once

#include "win/WideText.h"

#include <windows.h>

#include <wininet.h>

#include <algorithm>
#include <string>

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
        return InternetOpenW(win::widen(agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, flags);
    }
    // The callback reads no text WinINet hands it.
    virtual INTERNET_STATUS_CALLBACK setCallback(HINTERNET session, INTERNET_STATUS_CALLBACK callback) const
    {
        return InternetSetStatusCallbackW(session, callback);
    }
    virtual BOOL setOption(HINTERNET handle, DWORD option, void* value, DWORD size) const
    {
        return InternetSetOptionW(handle, option, value, size);
    }
    // `url`: ASCII, as wireUrl makes it. `headers`: null, or lines each ending in CRLF.
    virtual HINTERNET openUrl(HINTERNET session, const char* url, const char* headers, DWORD flags,
                              DWORD_PTR context) const
    {
        const std::wstring wideHeaders = headers ? win::widen(headers) : std::wstring();
        return InternetOpenUrlW(session, win::widen(url).c_str(), headers ? wideHeaders.c_str() : nullptr,
                                headers ? static_cast<DWORD>(-1) : 0, flags, context);
    }
    // `text` holds `*length` bytes; on return, the header's text in UTF-8, cut to that room
    // and zero-ended, with its length.
    virtual BOOL queryInfo(HINTERNET request, DWORD query, char* text, DWORD* length) const
    {
        if (*length == 0)
            return FALSE;
        std::wstring wide(*length, L'\0');
        DWORD bytes = *length * static_cast<DWORD>(sizeof(wchar_t));
        if (!HttpQueryInfoW(request, query, wide.data(), &bytes, nullptr))
            return FALSE;
        wide.resize(std::min<std::size_t>(bytes / sizeof(wchar_t), wide.size()));
        const std::string narrow = win::narrow(wide);
        const std::size_t kept = std::min<std::size_t>(narrow.size(), *length - 1);
        std::copy_n(narrow.begin(), kept, text);
        text[kept] = '\0';
        *length = static_cast<DWORD>(kept);
        return TRUE;
    }
    virtual BOOL queryDataAvailable(HINTERNET request, DWORD* available) const
    {
        return InternetQueryDataAvailable(request, available, 0, 0);
    }
    virtual BOOL read(HINTERNET request, void* into, DWORD size, DWORD* got) const
    {
        return InternetReadFile(request, into, size, got);
    }
    // The narrow form: it takes no text, and InternetReadFileExW is not implemented on
    // every Windows (it fails with ERROR_CALL_NOT_IMPLEMENTED).
    virtual BOOL readWithoutWaiting(HINTERNET request, INTERNET_BUFFERSA* buffers, DWORD_PTR context) const
    {
        return InternetReadFileExA(request, buffers, IRF_NO_WAIT, context);
    }
    virtual BOOL close(HINTERNET handle) const { return InternetCloseHandle(handle); }
};
