// JSON escaping of the seven characters that our JSON text never carries raw:
// quotation mark, backslash, backspace, tab, line feed, form feed, carriage return.
#pragma once

#include <string>
#include <string_view>

namespace vorn::typing::text {

// Every other byte, other control characters and UTF-8 included, is copied as
// it is; "\u" escapes are never produced.
std::string escape_string(std::string_view raw);

// Whether escape_string would change the text.
bool needs_escape(std::string_view raw);
// The same for a text of `size` bytes of which kPaddedText bytes can be read
// whatever its size: short texts are then tested without a branch on their
// size.
inline constexpr std::size_t kPaddedText = 16;
bool needs_escape_padded(const char* text, std::size_t size);

// The inverse of escape_string: undoes exactly its seven escapes and keeps
// any other backslash sequence as it stands.
std::string unescape_string(std::string_view escaped);

}  // namespace vorn::typing::text
