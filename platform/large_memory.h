// Large working blocks (picture planes, coefficient pyramids). A fresh block costs one page fault
// per 4 KB page on its first touch; on a 2048 x 2048 picture those faults took more time than the
// coding itself. Backing such blocks with 2 MB pages cuts the faults 512-fold and leaves every value
// as it was.
#pragma once

#include <cstddef>
#include <memory>

namespace zn {

// Below this a block keeps ordinary pages: a 2 MB page would mostly lie outside it.
inline constexpr std::size_t kLargeBlockBytes = std::size_t{4} << 20;

// Asks the kernel to back the whole 2 MB pages inside [p, p + bytes) with large pages when they are
// first touched. Call it before the block is written. Only a hint: without it, or on a system that
// does not offer large pages, nothing changes.
void AdviseLargeBlock(void *p, std::size_t bytes) noexcept;

// The standard allocator with the hint on every block it hands out, for vectors of picture size.
template <class T> struct LargeBlockAllocator : std::allocator<T>
{
    template <class U> struct rebind
    {
        using other = LargeBlockAllocator<U>;
    };
    LargeBlockAllocator() = default;
    template <class U> LargeBlockAllocator(const LargeBlockAllocator<U> &) {}
    T *allocate(std::size_t n)
    {
        T *p = std::allocator<T>::allocate(n);
        AdviseLargeBlock(p, n * sizeof(T));
        return p;
    }
};

} // namespace zn
