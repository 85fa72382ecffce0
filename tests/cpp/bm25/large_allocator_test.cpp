// The token table's large arrays and text blocks come from LargeAllocator:
// small requests from the heap, large ones on huge-page boundaries. Contents
// must survive every growth across that line, and a table whose text fills
// many huge-page blocks must keep every token's bytes.

#include "bm25/large_allocator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bm25/token_table.h"

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

// About six mebibytes of token text: the first blocks are small, the rest
// one huge page each; long tokens in between get blocks of their own.
TEST(TokenTable, TextBeyondManyBlocksKeepsEveryTokenAndCount) {
    TokenTable table;
    std::map<std::string, std::int32_t> expected;
    for (int i = 0; i < 500000; ++i) {
        std::string token = "token-" + std::to_string(std::int64_t{i} * 7919);
        if (i % 50000 == 0) {
            token = std::string(20000 + i % 7, static_cast<char>('a' + i % 26));
        }
        table[token] = i;
        expected[token] = i;
    }
    ASSERT_EQ(table.size(), expected.size());
    std::map<std::string, std::int32_t> held;
    for (const auto& entry : table) {
        held.emplace(entry.token(), entry.count);
    }
    EXPECT_EQ(held, expected);
    const TokenTable copy = table;
    EXPECT_EQ(*copy.find("token-" + std::to_string(std::int64_t{499999} * 7919)), 499999);
}

}  // namespace
}  // namespace vorn::typing::text
