// The model file's token members are written without the JSON tree; they
// must come out exactly as the serializer would print that tree.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bm25/model_text.h"
#include "bm25/token_key.h"
#include "json/json_value.h"

namespace vorn::typing::text {
namespace {

JsonValue scalars_with(JsonValue tokens) {
    JsonValue root = JsonValue::make(JsonKind::Object);
    root.member("_doc_token_frequency") = std::move(tokens);
    root.member("_doc_count").set_integer(3);
    root.member("_doc_length_average").set_float(2.5);
    root.member("_b").set_float(0.75);
    root.member("_k1").set_float(1.2);
    return root;
}

// The document as the serializer prints it with every token in the tree.
std::string through_the_tree(const TokenTable& table) {
    JsonValue tokens = JsonValue::make(JsonKind::Object);
    for (const auto& entry : table) {
        tokens.member(key_of_token(entry.token())).set_integer(entry.count);
    }
    return scalars_with(std::move(tokens)).serialize(1, "  ");
}

std::string written_directly(const TokenTable& table) {
    return with_token_members(scalars_with(JsonValue::make(JsonKind::Object)).serialize(1, "  "),
                              table);
}

TEST(ModelText, EmptyTableKeepsTheEmptyObjectForm) {
    const TokenTable table;
    EXPECT_EQ(written_directly(table), through_the_tree(table));
}

// Keys that tie on their first eight bytes, prefixes of one another, high
// and NUL bytes, the empty token, the seven escaped characters (whose
// escaped form sorts differently from the raw bytes) and extreme counts.
TEST(ModelText, OrdersAndEscapesLikeTheSerializer) {
    TokenTable table;
    const std::vector<std::pair<std::string, std::int32_t>> tokens = {
        {"", 1},
        {"a", 2},
        {"ab", 3},
        {std::string("ab\0", 3), 4},
        {"abcdefgh", 5},
        {"abcdefghi", 6},
        {"abcdefgh\xff", 7},
        {"\xe4\xb8\xad\xe6\x96\x87", 8},
        {"\xe4\xb8\xad", 9},
        {"B", -2147483647 - 1},
        {"q\"uote", 2147483647},
        {"back\\slash", 0},
        {"tab\there", 10},
        {"line\nfeed", 11},
        {"\b\f\r", 12},
        {"[", 13},
        {"\\", 14},
    };
    for (const auto& [token, count] : tokens) {
        table[token] = count;
    }
    EXPECT_EQ(written_directly(table), through_the_tree(table));
}

TEST(ModelText, ManyRandomTokensMatchTheTree) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> length(0, 12);
    std::uniform_int_distribution<int> byte(0, 255);
    TokenTable table;
    for (int i = 0; i < 5000; ++i) {
        std::string token(static_cast<std::size_t>(length(random)), '\0');
        for (char& c : token) {
            // Mostly a small alphabet, so that long shared prefixes occur.
            c = static_cast<char>(byte(random) < 200 ? 'a' + byte(random) % 3 : byte(random));
        }
        table[token] += i;
    }
    EXPECT_EQ(written_directly(table), through_the_tree(table));
}

}  // namespace
}  // namespace vorn::typing::text
