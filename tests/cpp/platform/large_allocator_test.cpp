// Large arrays and blocks come from LargeAllocator: small requests from the
// heap, large ones on huge-page boundaries. Contents must survive every
// growth across that line.

#include "platform/large_allocator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace vorn::typing::text {
namespace {

TEST(LargeAllocator, GrowsAcrossTheHugePageLineKeepingItsElements) {
    std::vector<std::uint64_t, LargeAllocator<std::uint64_t>> values;
    constexpr std::uint64_t kCount = 3 * kHugePageSize / sizeof(std::uint64_t);
    for (std::uint64_t i = 0; i < kCount; ++i) {
        values.push_back(i * 2654435761U);
    }
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(values.data()) % kHugePageSize, 0u);
    for (std::uint64_t i = 0; i < kCount; i += 4099) {
        ASSERT_EQ(values[i], i * 2654435761U);
    }
    values.resize(3);
    values.shrink_to_fit();
    EXPECT_EQ(values, (std::vector<std::uint64_t, LargeAllocator<std::uint64_t>>{
                          0, 2654435761U, 2 * 2654435761ULL}));
}

TEST(LargeBlock, MovesOwnership) {
    LargeBlock small(100);
    LargeBlock large(kHugePageSize + 1);
    small.data()[99] = 'x';
    large.data()[kHugePageSize] = 'y';
    LargeBlock moved(std::move(large));
    EXPECT_EQ(moved.data()[kHugePageSize], 'y');
    moved = std::move(small);
    EXPECT_EQ(moved.data()[99], 'x');
}

}  // namespace
}  // namespace vorn::typing::text
