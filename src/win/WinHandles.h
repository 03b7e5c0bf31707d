// Owners for Win32 handles: one template, and a small policy per kind of handle that
// says what type it is, which value means "none" (null for most, INVALID_HANDLE_VALUE
// for files, snapshots and searches) and how it is closed. close() reports the
// platform's answer, for the clean-up steps that must be checked.
#pragma once

#include <windows.h>

template <typename Policy>
class UniqueAny {
public:
    using Value = typename Policy::Value;

    UniqueAny() = default;
    explicit UniqueAny(Value value) : value_(value) {}
    ~UniqueAny() { close(); }
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;

    Value get() const { return value_; }
    explicit operator bool() const { return value_ != Policy::none(); }
    Value release()
    {
        const Value value = value_;
        value_ = Policy::none();
        return value;
    }
    // Closes what is held (true when nothing was) and holds `value` instead.
    bool reset(Value value = Policy::none())
    {
        const Value old = value_;
        value_ = value;
        return old == Policy::none() || Policy::close(old);
    }
    bool close() { return reset(); }

private:
    Value value_ = Policy::none();
};

namespace handle_policy {

// Kernel objects: events, mutexes, sections, threads, processes.
struct Kernel {
    using Value = HANDLE;
    static Value none() { return nullptr; }
    static bool close(Value value) { return CloseHandle(value) != FALSE; }
};

// Handles whose failure value is INVALID_HANDLE_VALUE: files and snapshots.
struct File {
    using Value = HANDLE;
    static Value none() { return INVALID_HANDLE_VALUE; }
    static bool close(Value value) { return CloseHandle(value) != FALSE; }
};

struct Find {
    using Value = HANDLE;
    static Value none() { return INVALID_HANDLE_VALUE; }
    static bool close(Value value) { return FindClose(value) != FALSE; }
};

struct View {
    using Value = void*;
    static Value none() { return nullptr; }
    static bool close(Value value) { return UnmapViewOfFile(value) != FALSE; }
};

// A wait registered with the thread pool; closing it waits for a callback under way.
struct Wait {
    using Value = HANDLE;
    static Value none() { return nullptr; }
    static bool close(Value value) { return UnregisterWaitEx(value, INVALID_HANDLE_VALUE) != FALSE; }
};

} // namespace handle_policy

using UniqueHandle = UniqueAny<handle_policy::Kernel>;
using UniqueFileHandle = UniqueAny<handle_policy::File>;
using UniqueFindHandle = UniqueAny<handle_policy::Find>;
using UniqueView = UniqueAny<handle_policy::View>;
using UniqueWait = UniqueAny<handle_policy::Wait>;

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

// Holds an SRW lock, exclusively, for one scope.
class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};
