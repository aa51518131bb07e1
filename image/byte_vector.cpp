#include "image/byte_vector.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

void adviseLargePages(void* start, std::size_t bytes) noexcept {
#if defined(MADV_HUGEPAGE)
    const auto first = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t begin = (first + LARGE_PAGE_BYTES - 1) & ~(LARGE_PAGE_BYTES - 1);
    const std::uintptr_t end = (first + bytes) & ~(LARGE_PAGE_BYTES - 1);
    if (begin < end) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}
