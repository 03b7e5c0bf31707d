// Lets a test make large allocations fail, as they would in a process whose address
// space is exhausted. Link FailingAllocator.cpp into the test program: it replaces the
// program's operator new.
#pragma once

#include <cstddef>

// Allocations larger than `bytes` throw std::bad_alloc until the guard ends.
class FailAllocationsAbove {
public:
    explicit FailAllocationsAbove(std::size_t bytes);
    ~FailAllocationsAbove();
    FailAllocationsAbove(const FailAllocationsAbove&) = delete;
    FailAllocationsAbove& operator=(const FailAllocationsAbove&) = delete;
};

// How many allocations were refused since the program started.
std::size_t refusedAllocations();
