// The model file is written without the JSON tree, member by member through
// the object writer; it must come out exactly as the serializer would print
// that tree, however the text is cut into pieces.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bm25/model_text.h"
#include "bm25/token_key.h"
#include "json/json_value.h"

namespace vorn::typing::text {
namespace {

constexpr ModelStatistics kStatistics{0.75, 1.2, 3, 2.5};

JsonValue scalars_with(JsonValue tokens) {
    JsonValue root = JsonValue::make(JsonKind::Object);
    root.member("_doc_token_frequency") = std::move(tokens);
    root.member("_doc_count").set_integer(kStatistics.doc_count);
    root.member("_doc_length_average").set_float(kStatistics.doc_length_average);
    root.member("_b").set_float(kStatistics.b);
    root.member("_k1").set_float(kStatistics.k1);
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
    return ModelText(kStatistics, table).str();
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

// The text leaves in pieces of about a mebibyte; a token longer than a piece
// travels whole, and a second write gives the same pieces again.
TEST(ModelText, PiecesJoinIntoTheTextAndRepeat) {
    TokenTable table;
    for (int i = 0; i < 120000; ++i) {
        table["token-" + std::to_string(i)] = i;
    }
    const std::string giant(3 * ModelText::kPieceSize, 'g');
    table[giant] = 1;
    const ModelText text(kStatistics, table);
    for (int run = 0; run < 2; ++run) {
        std::vector<std::size_t> sizes;
        std::string joined;
        text.write([&](std::string_view piece) {
            sizes.push_back(piece.size());
            joined += piece;
        });
        EXPECT_EQ(joined, through_the_tree(table));
        ASSERT_GE(sizes.size(), 3u);
        for (std::size_t i = 0; i + 1 < sizes.size(); ++i) {
            EXPECT_GE(sizes[i], ModelText::kPieceSize);
            EXPECT_LT(sizes[i], ModelText::kPieceSize + giant.size() + 64);
        }
    }
}

}  // namespace
}  // namespace vorn::typing::text
