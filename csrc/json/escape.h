// JSON escaping of the seven characters that our JSON text never carries raw:
// quotation mark, backslash, backspace, tab, line feed, form feed, carriage return.
#pragma once

#include <string>

namespace vorn::typing::text {

// Every other byte, other control characters and UTF-8 included, is copied as
// it is; "\u" escapes are never produced.
std::string escape_string(const std::string& raw);

}  // namespace vorn::typing::text
