// An empty table filled in the order of its slots must answer every lookup
// as one filled token by token, and refuse a repeated token without leaving
// a record of it behind.

#include "token_table/token_table_filler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorn::typing::text {
namespace {

std::vector<std::string> numbered(std::size_t count) {
    std::vector<std::string> tokens;
    for (std::size_t i = 0; i < count; ++i) {
        tokens.push_back("t" + std::to_string(i * 7919));
    }
    return tokens;
}

bool fill(TokenTable& table, const std::vector<std::string>& tokens, std::size_t chunk) {
    TokenTableFiller filler(table, tokens.size(), chunk);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (!filler.add(tokens[i], hash_token(tokens[i]), static_cast<std::int32_t>(i) - 5)) {
            return false;
        }
    }
    return filler.finish();
}

// Chunks of one, of a few and of all the tokens; tables from a handful of
// slots, where probe runs wrap past the last slot, to some hundred thousand.
TEST(TokenTableFiller, FindsEveryTokenInTheTextsOrder) {
    for (const std::size_t count : {0, 1, 12, 13, 1000, 100000}) {
        const std::vector<std::string> tokens = numbered(count);
        for (const std::size_t chunk :
             {std::size_t{1}, std::size_t{7}, TokenTableFiller::kMaxChunk}) {
            SCOPED_TRACE(std::to_string(count) + " tokens, chunks of " + std::to_string(chunk));
            TokenTable table;
            ASSERT_TRUE(fill(table, tokens, chunk));
            ASSERT_EQ(table.size(), count);
            for (std::size_t i = 0; i < count; ++i) {
                const std::int32_t* found = table.find(tokens[i]);
                ASSERT_NE(found, nullptr) << tokens[i];
                EXPECT_EQ(*found, static_cast<std::int32_t>(i) - 5);
            }
            EXPECT_EQ(table.find("t1"), nullptr);
            std::size_t i = 0;
            for (const TokenTable::Entry entry : table) {
                ASSERT_LT(i, count);
                EXPECT_EQ(entry.token(), tokens[i++]);
            }
            EXPECT_EQ(i, count);
            // The table goes on as any other.
            table["t1"] += 2;
            EXPECT_EQ(*table.find("t1"), 2);
            EXPECT_EQ(table.size(), count + 1);
        }
    }
}

TEST(TokenTableFiller, ARepeatedTokenEmptiesTheTable) {
    std::vector<std::string> tokens = numbered(50);
    tokens.push_back(tokens[3]);
    tokens.push_back("after");
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{10}, TokenTableFiller::kMaxChunk}) {
        TokenTable table;
        EXPECT_FALSE(fill(table, tokens, chunk));
        EXPECT_EQ(table.size(), 0u);
        EXPECT_EQ(table.begin(), table.end());
        EXPECT_EQ(table.find(tokens[3]), nullptr);
    }
    // Tokens that differ only after a NUL, or only in size, are not repeats.
    TokenTable table;
    const std::vector<std::string> close = {std::string("a\0b", 3), std::string("a\0c", 3), "a",
                                            std::string("a\0", 2), ""};
    ASSERT_TRUE(fill(table, close, 2));
    EXPECT_EQ(table.size(), close.size());
}

TEST(TokenTableFiller, FitsWhileTagsTellTheHome) {
    EXPECT_TRUE(TokenTableFiller::fits(0));
    EXPECT_TRUE(TokenTableFiller::fits(201326592));
    EXPECT_FALSE(TokenTableFiller::fits(201326593));
}

}  // namespace
}  // namespace vorn::typing::text
