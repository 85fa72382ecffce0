#pragma once
// The text rules that cppjieba 5.1.3 and its limonp utilities apply while
// loading data files, restated over string views so that a file can be
// checked line by line without building what the library builds.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::typing::text {

// How many pieces limonp::Split makes of `text`: every delimiter ends a piece
// and empty pieces count, but a delimiter at the very end starts none, so ""
// has no piece, "a b" two and "a b " two as well.
std::size_t limonp_split_count(std::string_view text, std::string_view delimiters);

// The pieces themselves, by the same rule.
std::vector<std::string> limonp_split(std::string_view text, std::string_view delimiters);

// limonp::Trim: strips ASCII white space (blank, \t, \n, \v, \f, \r) at both
// ends; bytes of multi-byte characters are never white space.
std::string_view limonp_trim(std::string_view text);

// Whether cppjieba's lenient UTF-8 decoder reads `text` as exactly one
// character. The decoder looks at lead bytes and lengths only.
bool decodes_as_one_rune(std::string_view text);

}  // namespace vorn::typing::text
