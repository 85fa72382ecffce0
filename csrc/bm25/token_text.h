#pragma once
// Token text: the byte string under which the model keeps a token's
// statistics. Integer ids are kept under their decimal text so that the id 42
// and the string "42" are one token.

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorn::typing::text {

// Enough for "-9223372036854775808".
inline constexpr std::size_t kMaxIdTextLength = 20;

// Writes the decimal text of `id` (the std::to_string form) into `buffer`
// without allocating and returns a view of it.
inline std::string_view id_text(std::int64_t id, char (&buffer)[kMaxIdTextLength]) {
    const auto result = std::to_chars(buffer, buffer + kMaxIdTextLength, id);
    return {buffer, static_cast<std::size_t>(result.ptr - buffer)};
}

inline std::string token_text(std::int64_t id) { return std::to_string(id); }

}  // namespace vorn::typing::text
