// The model file's keys come out in std::string's order whatever order the
// table holds them in: groups sorted by insertion and by radix passes, keys
// that tie on their first eight bytes, keys longer than a word, and escaped
// keys whose first bytes put them in another group than their token's.

#include "bm25/sorted_keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bm25/token_key.h"

namespace vorn::typing::text {
namespace {

using Keyed = std::vector<std::pair<std::string, std::int32_t>>;

Keyed listed(const SortedKeys& keys) {
    Keyed out;
    keys.for_each([&out](std::string_view key, std::int32_t count) {
        out.emplace_back(std::string(key), count);
    });
    return out;
}

// Tokens go into the table in a shuffled order, as training puts them.
void expect_sorted(std::vector<std::string> tokens, unsigned seed) {
    std::mt19937 random(seed);
    std::shuffle(tokens.begin(), tokens.end(), random);
    TokenTable table;
    Keyed expected;
    for (const std::string& token : tokens) {
        std::int32_t& count = table[token];
        if (count == 0) {
            count = static_cast<std::int32_t>(random() % 100000) - 50000;
            expected.emplace_back(key_of_token(token), count);
        }
    }
    std::sort(expected.begin(), expected.end());
    const SortedKeys keys(table);
    EXPECT_EQ(keys.size(), expected.size());
    table = TokenTable();  // the keys are copies
    const Keyed first = listed(keys);
    EXPECT_TRUE(first == expected) << seed;
    EXPECT_TRUE(listed(keys) == first);
}

std::string random_text(std::mt19937& random, std::size_t size, const std::string& alphabet) {
    std::string text(size, '\0');
    for (char& c : text) {
        c = alphabet[random() % alphabet.size()];
    }
    return text;
}

TEST(SortedKeys, EmptyAndSingleTables) {
    expect_sorted({}, 1);
    expect_sorted({""}, 2);
    expect_sorted({"\n"}, 3);
}

// Ids of one length share their first eight bytes in runs; a small
// alphabet makes large groups, short keys, keys past a word and ties.
TEST(SortedKeys, LargeGroupsAndTiesOnTheFirstEightBytes) {
    std::mt19937 random(5);
    std::vector<std::string> ids;
    for (int i = 0; i < 20000; ++i) {
        ids.push_back(std::to_string(100000000000 + random() % 3000000));
    }
    expect_sorted(ids, 6);
    std::vector<std::string> texts;
    for (int i = 0; i < 20000; ++i) {
        texts.push_back(random_text(random, random() % 25, std::string("ab\xe4\0", 4)));
    }
    expect_sorted(texts, 7);
}

// One group of many keys, split by its third byte into parts of every size:
// a handful of keys, and more than a radix pass takes.
TEST(SortedKeys, LargeGroupSplitIntoPartsOfEverySize) {
    std::mt19937 random(12);
    std::vector<std::string> tokens;
    for (int i = 0; i < 12000; ++i) {
        const auto third = static_cast<char>(i % 3 == 0 ? 'm' : random() % 256);
        tokens.push_back(std::string("zz") + third + random_text(random, random() % 14, "ab\""));
    }
    expect_sorted(tokens, 13);
}

// Every first two bytes, so that most groups hold a handful of keys.
TEST(SortedKeys, ManySmallGroups) {
    std::mt19937 random(8);
    std::vector<std::string> tokens;
    for (int i = 0; i < 65536 * 3; ++i) {
        tokens.push_back(
            std::string{static_cast<char>(i & 0xff), static_cast<char>(i >> 8 & 0xff)} +
            random_text(random, random() % 12, "xyz"));
    }
    expect_sorted(tokens, 9);
}

// A quotation mark sorts as '"' in its token but as '\\' once escaped.
TEST(SortedKeys, EscapedKeysTakeTheirEscapedPlace) {
    std::mt19937 random(10);
    std::vector<std::string> tokens;
    for (int i = 0; i < 5000; ++i) {
        tokens.push_back(random_text(random, random() % 20, "\"\\\n\ta]["));
    }
    expect_sorted(tokens, 11);
}

}  // namespace
}  // namespace vorn::typing::text
