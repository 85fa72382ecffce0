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

// On equal prefixes a text of at most eight bytes is the beginning of the
// other (the rest of its prefix is padding), so the shorter sorts first;
// longer texts can only differ past their first eight bytes. Either way equal
// tokens, which documents repeat, compare without a call into memcmp.
inline bool operator<(const OrderedText& left, const OrderedText& right) {
    if (left.prefix != right.prefix) {
        return left.prefix < right.prefix;
    }
    if (left.text.size() <= 8 || right.text.size() <= 8) {
        return left.text.size() < right.text.size();
    }
    return left.text.substr(8) < right.text.substr(8);
}

inline bool operator==(const OrderedText& left, const OrderedText& right) {
    return left.prefix == right.prefix && left.text.size() == right.text.size() &&
           (left.text.size() <= 8 || left.text.substr(8) == right.text.substr(8));
}

}  // namespace vorn::typing::text
