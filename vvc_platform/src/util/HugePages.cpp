#include "util/HugePages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vvcutil {

void AdviseHugePages(void* data, size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kHugePage = uintptr_t(2) << 20;
    auto const begin = reinterpret_cast<uintptr_t>(data);
    if (!data || bytes < kHugePage || begin > UINTPTR_MAX - bytes)
        return;
    uintptr_t const first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    uintptr_t const last = (begin + bytes) & ~(kHugePage - 1);
    if (last > first)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

} // namespace vvcutil
