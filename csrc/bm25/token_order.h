#pragma once
// The byte order of token texts (std::string's order, which is the order of
// the result maps and of the model file), made cheap to sort: a text's first
// eight bytes as a big-endian number decide most comparisons without a call
// into memcmp.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vorn::typing::text {

// Zero-padded, so that a text sorts before every longer text it begins.
inline std::uint64_t order_prefix(std::string_view text) {
    std::uint64_t prefix = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const unsigned byte = i < text.size() ? static_cast<unsigned char>(text[i]) : 0U;
        prefix = (prefix << 8U) | byte;
    }
    return prefix;
}

// `prefix` must be order_prefix(text).
struct OrderedText {
    std::uint64_t prefix;
    std::string_view text;
};

inline bool operator<(const OrderedText& left, const OrderedText& right) {
    if (left.prefix != right.prefix) {
        return left.prefix < right.prefix;
    }
    return left.text < right.text;
}

}  // namespace vorn::typing::text
