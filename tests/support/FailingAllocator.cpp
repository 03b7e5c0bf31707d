#include "support/FailingAllocator.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::size_t> g_limit{SIZE_MAX};
std::atomic<std::size_t> g_refused{0};

void* allocate(std::size_t size)
{
    if (size > g_limit.load()) {
        ++g_refused;
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

} // namespace

FailAllocationsAbove::FailAllocationsAbove(std::size_t bytes)
{
    g_limit = bytes;
}
FailAllocationsAbove::~FailAllocationsAbove()
{
    g_limit = SIZE_MAX;
}

std::size_t refusedAllocations()
{
    return g_refused.load();
}

void* operator new(std::size_t size)
{
    return allocate(size);
}
void* operator new[](std::size_t size)
{
    return allocate(size);
}
void operator delete(void* block) noexcept
{
    std::free(block);
}
void operator delete[](void* block) noexcept
{
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept
{
    std::free(block);
}
