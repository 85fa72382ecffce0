#pragma once
// The allocator of large arrays and blocks, such as a table's slots and
// records. Blocks of two mebibytes and more are placed on two-mebibyte
// boundaries and offered to the kernel for transparent huge pages (madvise;
// where the system does not use them, nothing changes). A table of millions
// of entries is touched at random: with 4 KiB pages every lookup also misses
// the TLB, and every page costs a fault when first written, which on a
// virtual machine takes longer than filling it.

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>

namespace vorn::typing::text {

inline constexpr std::size_t kHugePageSize = std::size_t{2} << 20;

template <typename T>
class LargeAllocator {
  public:
    using value_type = T;

    LargeAllocator() noexcept = default;
    // Containers convert an allocator between element types implicitly.
    template <typename U>
    // cppcheck-suppress noExplicitConstructor
    LargeAllocator(const LargeAllocator<U>& /*other*/) noexcept {}  // NOLINT

    T* allocate(std::size_t count) {
        const std::size_t bytes = count * sizeof(T);
        if (bytes < kHugePageSize) {
            return static_cast<T*>(::operator new(bytes));
        }
        const std::size_t rounded = (bytes + kHugePageSize - 1) & ~(kHugePageSize - 1);
        void* const block = std::aligned_alloc(kHugePageSize, rounded);
        if (block == nullptr) {
            throw std::bad_alloc();
        }
        (void)::madvise(block, rounded, MADV_HUGEPAGE);
        return static_cast<T*>(block);
    }

    void deallocate(T* block, std::size_t count) noexcept {
        if (count * sizeof(T) < kHugePageSize) {
            ::operator delete(block);
        } else {
            std::free(block);
        }
    }

    template <typename U>
    bool operator==(const LargeAllocator<U>& /*other*/) const noexcept {
        return true;
    }
    template <typename U>
    bool operator!=(const LargeAllocator<U>& /*other*/) const noexcept {
        return false;
    }
};

// Bytes from LargeAllocator, left uninitialised, owned.
class LargeBlock {
  public:
    explicit LargeBlock(std::size_t size)
        : data_(LargeAllocator<char>().allocate(size)), size_(size) {}
    LargeBlock(const LargeBlock&) = delete;
    LargeBlock& operator=(const LargeBlock&) = delete;
    LargeBlock(LargeBlock&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    LargeBlock& operator=(LargeBlock&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        return *this;
    }
    ~LargeBlock() {
        if (data_ != nullptr) {
            LargeAllocator<char>().deallocate(data_, size_);
        }
    }

    char* data() const noexcept { return data_; }

  private:
    char* data_;
    std::size_t size_;
};

}  // namespace vorn::typing::text
