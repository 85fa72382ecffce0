// Sorting by order prefix must give exactly std::string's order, which the
// result maps and the model file use, and equality must be std::string's.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bm25/token_order.h"

namespace vorn::typing::text {
namespace {

OrderedText ordered(const std::string& text) { return {order_prefix(text), text}; }

TEST(TokenOrder, AgreesWithStringComparison) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> length(0, 11);
    std::uniform_int_distribution<int> pick(0, 5);
    // Few distinct bytes, NUL and high bytes among them, so that shared
    // prefixes, ties on the first eight bytes and padding cases all occur.
    const std::string alphabet(
        "\0a\x7f\x80\xff"
        "b",
        6);
    std::vector<std::string> texts;
    for (int i = 0; i < 400; ++i) {
        std::string text(static_cast<std::size_t>(length(random)), '\0');
        for (char& c : text) {
            c = alphabet[static_cast<std::size_t>(pick(random))];
        }
        texts.push_back(text);
    }
    for (const std::string& left : texts) {
        for (const std::string& right : texts) {
            ASSERT_EQ(ordered(left) < ordered(right), left < right)
                << testing::PrintToString(left) << " vs " << testing::PrintToString(right);
            ASSERT_EQ(ordered(left) == ordered(right), left == right)
                << testing::PrintToString(left) << " vs " << testing::PrintToString(right);
        }
    }
}

}  // namespace
}  // namespace vorn::typing::text
