// Owners for the kernel objects of a locked pass: one type per kind of handle.
// close() reports the platform's answer, for the clean-up steps that must be checked.
#pragma once

#include <windows.h>

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() { close(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            close();
            handle_ = other.release();
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    HANDLE release()
    {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    bool close()
    {
        if (!handle_)
            return true;
        const bool closed = CloseHandle(release()) != FALSE;
        return closed;
    }

private:
    HANDLE handle_ = nullptr;
};

class UniqueView {
public:
    UniqueView() = default;
    explicit UniqueView(void* view) : view_(view) {}
    ~UniqueView() { unmap(); }
    UniqueView(const UniqueView&) = delete;
    UniqueView& operator=(const UniqueView&) = delete;

    void* get() const { return view_; }
    void reset(void* view)
    {
        unmap();
        view_ = view;
    }
    bool unmap()
    {
        if (!view_)
            return true;
        void* view = view_;
        view_ = nullptr;
        return UnmapViewOfFile(view) != FALSE;
    }

private:
    void* view_ = nullptr;
};

// Holds the ownership of a mutex that a wait granted, and gives it back.
class MutexOwnership {
public:
    MutexOwnership() = default;
    ~MutexOwnership() { release(); }
    MutexOwnership(const MutexOwnership&) = delete;
    MutexOwnership& operator=(const MutexOwnership&) = delete;

    void own(HANDLE mutex) { mutex_ = mutex; }
    bool release()
    {
        if (!mutex_)
            return true;
        HANDLE mutex = mutex_;
        mutex_ = nullptr;
        return ReleaseMutex(mutex) != FALSE;
    }

private:
    HANDLE mutex_ = nullptr;
};
