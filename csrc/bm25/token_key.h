#pragma once
// How token texts travel as keys of the model file: escaped on the way out,
// unescaped on the way in, so that every token (quotes, backslashes, control
// characters, the empty token, any bytes) comes back as it went.

#include <string>
#include <string_view>

namespace vorn::typing::text {

std::string key_of_token(std::string_view token_text);

// Undoes exactly the seven escapes that key_of_token produces; any other
// backslash sequence is kept as it stands.
std::string token_of_key(std::string_view key);

}  // namespace vorn::typing::text
