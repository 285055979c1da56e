// An allocator that maps blocks of a megabyte and more straight from the kernel and gives them
// back on release. malloc keeps a freed large block in the arena of the thread that freed it
// once its threshold has risen past that size, so a few large parses on each of the listener's
// threads would stay resident for good (sixteen threads' worth); smaller blocks come from malloc.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <memory>
#include <new>

namespace tallyport::server::staff {

template <typename T> struct MappedAllocator {
    using value_type = T;
    static constexpr std::size_t kMappedBytes = std::size_t(1) << 20;

    MappedAllocator() = default;
    template <typename U> MappedAllocator(const MappedAllocator<U>&) {}

    T* allocate(std::size_t n) {
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kMappedBytes)
            return std::allocator<T>().allocate(n);
        void* block =
            ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED)
            throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* block, std::size_t n) {
        if (n * sizeof(T) < kMappedBytes)
            std::allocator<T>().deallocate(block, n);
        else
            ::munmap(block, n * sizeof(T));
    }
    template <typename U> bool operator==(const MappedAllocator<U>&) const { return true; }
};

} // namespace tallyport::server::staff
