// Large-page hint for big working blocks (see large_memory.h).
#include "platform/large_memory.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace zn {

void AdviseLargeBlock(void *p, std::size_t bytes) noexcept
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (!p || bytes < kLargeBlockBytes)
        return;
    constexpr std::uintptr_t kPage = std::uintptr_t{2} << 20;
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(p) + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(kPage - 1);
    if (end > begin)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE); // a refusal only loses the hint
#else
    (void)p;
    (void)bytes;
#endif
}

} // namespace zn
