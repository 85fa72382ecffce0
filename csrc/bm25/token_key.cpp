#include "bm25/token_key.h"

#include "json/escape.h"

namespace vorn::typing::text {

std::string key_of_token(std::string_view token_text) {
    if (!needs_escape(token_text)) {
        return std::string(token_text);
    }
    return escape_string(token_text);
}

std::string token_of_key(std::string_view key) {
    if (key.find('\\') == std::string_view::npos) {
        return std::string(key);
    }
    return unescape_string(key);
}

}  // namespace vorn::typing::text
