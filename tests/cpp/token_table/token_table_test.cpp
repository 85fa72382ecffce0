#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "token_table/token_counts.h"
#include "token_table/token_table.h"

namespace vorn::typing::text {
namespace {

TEST(TokenTable, KeepsEveryTokenThroughGrowth) {
    TokenTable table;
    const std::string long_token(100000, 'x');
    for (int i = 0; i < 100000; ++i) {
        table["t" + std::to_string(i)] += i;
    }
    table[long_token] = 7;
    table[""] = 3;
    table[std::string("a\0b", 3)] = 4;
    EXPECT_EQ(table.size(), 100003u);
    for (int i = 0; i < 100000; ++i) {
        const std::int32_t* count = table.find("t" + std::to_string(i));
        ASSERT_NE(count, nullptr);
        EXPECT_EQ(*count, i);
    }
    EXPECT_EQ(*table.find(long_token), 7);
    EXPECT_EQ(*table.find(""), 3);
    EXPECT_EQ(*table.find(std::string("a\0b", 3)), 4);
    EXPECT_EQ(table.find("a"), nullptr);
    EXPECT_EQ(table.find("t100000"), nullptr);
}

// Growing moves the slots without reading the tokens again; a reserve in the
// middle, and tokens whose probe runs wrap past the last slot, go through the
// same move.
TEST(TokenTable, ReserveOnAFilledTableKeepsEveryToken) {
    TokenTable table;
    for (int i = 0; i < 5000; ++i) {
        table["r" + std::to_string(i)] = i + 1;
    }
    table.reserve(200000);
    for (int i = 5000; i < 20000; ++i) {
        table["r" + std::to_string(i)] = i + 1;
    }
    EXPECT_EQ(table.size(), 20000u);
    for (int i = 0; i < 20000; ++i) {
        const std::int32_t* count = table.find("r" + std::to_string(i));
        ASSERT_NE(count, nullptr) << i;
        EXPECT_EQ(*count, i + 1);
    }
    EXPECT_EQ(table.find("r20000"), nullptr);
}

TEST(TokenTable, CopiesAreIndependentAndMovedFromTablesStayUsable) {
    TokenTable table;
    table["a"] = 1;
    TokenTable copy(table);
    copy["a"] = 2;
    copy["b"] = 3;
    EXPECT_EQ(*table.find("a"), 1);
    EXPECT_EQ(table.find("b"), nullptr);

    TokenTable moved(std::move(copy));
    // Reuse after a move is allowed.
    copy["c"] = 5;  // NOLINT(bugprone-use-after-move,clang-analyzer-cplusplus.Move)
    moved["d"] = 6;
    EXPECT_EQ(copy.size(), 1u);
    EXPECT_EQ(moved.size(), 3u);
    EXPECT_EQ(*moved.find("b"), 3);
    table = moved;
    EXPECT_EQ(*table.find("d"), 6);
}

// Records fill small blocks, then huge ones; a long token takes a block of
// its own under as many block numbers as its size spans. Iteration must meet
// every record once, every handle name its own record, and the bytes that
// readers of short texts load past a text's end must lie in its block (the
// sanitizer build checks the loads).
TEST(TokenTable, RecordsAcrossBlocksOfEverySizeAreEachMetOnce) {
    TokenTable table;
    std::map<std::string, std::int32_t> expected;
    const auto put = [&](const std::string& token, std::int32_t count) {
        table[token] = count;
        expected[token] = count;
    };
    put("", 9);
    for (int i = 0; i < 300000; ++i) {
        put("k" + std::to_string(i), i % 1000);
        if (i % 100000 == 7) {
            const std::size_t size = i == 7 ? 20000 : (std::size_t{3} << 20) + 5 * i;
            put(std::string(size, static_cast<char>('a' + i % 26)), -i);
        }
    }
    put(std::string(std::size_t{5} << 20, 'z'), 5);
    std::map<std::string, std::int32_t> met;
    volatile unsigned readable = 0;
    for (const TokenTable::Entry entry : table) {
        EXPECT_EQ(table.token_at(entry.handle), entry.token());
        EXPECT_EQ(table.count_at(entry.handle), entry.count);
        EXPECT_TRUE(met.emplace(entry.token(), entry.count).second) << entry.token().size();
        std::array<char, TokenTable::kReadableText> word{};
        std::memcpy(word.data(), entry.data, word.size());
        readable += static_cast<unsigned char>(word.back());
    }
    EXPECT_EQ(met.size(), table.size());
    EXPECT_TRUE(met == expected);
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

TEST(TokenCounts, CountsBeyondTheExpectedSize) {
    TokenCounts<std::int64_t> counts(2);
    for (std::int64_t i = 0; i < 1000; ++i) {
        counts.add(i % 100);
    }
    EXPECT_EQ(counts.size(), 100u);
    EXPECT_EQ(counts.count(42), 10);
    EXPECT_EQ(counts.count(100), 0);
    EXPECT_EQ(counts.entries().front().token, 0);  // order of first occurrence
}

// Short tokens are told apart by hash and size alone, so every token of up to
// nine bytes over NUL, a letter and a high byte (padding look-alikes and the
// first size whose bytes are compared) must still be counted on its own.
TEST(TokenCounts, ShortTokensDifferingOnlyInSizeOrPaddingStayApart) {
    std::vector<std::string> tokens{""};
    for (std::size_t begin = 0; tokens.back().size() < 9;) {
        const std::size_t end = tokens.size();
        for (std::size_t i = begin; i < end; ++i) {
            for (const char byte : {'\0', 'a', '\xff'}) {
                tokens.push_back(tokens[i] + byte);
            }
        }
        begin = end;
    }
    std::vector<std::string> document;
    std::map<std::string, std::int32_t> expected;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        for (std::size_t copy = 0; copy <= i % 3; ++copy) {
            document.push_back(tokens[i]);
            ++expected[tokens[i]];
        }
    }
    TokenCounts<std::string_view> counts(0);
    for (const std::string& token : document) {
        counts.add(token);
    }
    ASSERT_EQ(counts.size(), expected.size());
    for (const auto& [token, count] : expected) {
        EXPECT_EQ(counts.count(token), count) << token.size();
    }
}

TEST(TokenCounts, ResetForgetsEverythingWhetherStorageIsKeptOrNot) {
    TokenCounts<std::int64_t> counts(1000);
    for (std::int64_t i = 0; i < 1000; ++i) {
        counts.add(i);
    }
    for (const std::size_t expected : {std::size_t{900}, std::size_t{3}, std::size_t{5000}}) {
        counts.reset(expected);
        EXPECT_EQ(counts.size(), 0u);
        EXPECT_EQ(counts.count(7), 0);
        counts.add(7);
        counts.add(7);
        EXPECT_EQ(counts.count(7), 2);
        EXPECT_EQ(counts.size(), 1u);
    }
}

}  // namespace
}  // namespace vorn::typing::text
