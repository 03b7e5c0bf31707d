// The fuzz targets' memory oracle: the sanitizer's allocation hooks count the bytes
// held at once, so an input that makes the decoder hold memory out of proportion to its
// bytes is reported as a crash, even when the memory is only reserved and never touched
// (reserved memory does not show in the resident size that -rss_limit_mb watches).
#pragma once

#include "amf/AmfReader.h"

#include <sanitizer/allocator_interface.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace heapwatch {

// What a decoded body may hold per byte of input, plus room for fixed costs.
constexpr std::size_t kBytesPerInputByte = CFlashAMFReader::kMaxHeapPerBodyByte;
constexpr std::size_t kConstant = 64 * 1024;

inline std::size_t g_live = 0;
inline std::size_t g_peak = 0;

inline void onMalloc(const volatile void*, std::size_t size)
{
    g_live += size;
    if (g_live > g_peak)
        g_peak = g_live;
}

inline void onFree(const volatile void* pointer)
{
    g_live -= __sanitizer_get_allocated_size(const_cast<const void*>(pointer));
}

// Measures the peak held while `work` runs, and aborts when it is beyond the bound.
template <typename Work>
void checkProportional(std::size_t inputSize, Work&& work)
{
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) != 0;
    (void)installed;
    const std::size_t before = g_live;
    g_peak = g_live;
    work();
    const std::size_t held = g_peak - before;
    if (held > kBytesPerInputByte * inputSize + kConstant) {
        std::fprintf(stderr, "heapwatch: %zu bytes held for an input of %zu bytes\n", held, inputSize);
        std::abort();
    }
}

} // namespace heapwatch
