#include "bm25/token_key.h"

#include "json/escape.h"

namespace vorn::typing::text {

std::string key_of_token(std::string_view token_text) {
    if (token_text.find_first_of("\"\\\b\t\n\f\r") == std::string_view::npos) {
        return std::string(token_text);
    }
    return escape_string(std::string(token_text));
}

namespace {

// The byte that `\<escape>` stands for, or 0 when it is not one of ours.
char unescaped(char escape) {
    switch (escape) {
        case '"':
            return '"';
        case '\\':
            return '\\';
        case 'b':
            return '\b';
        case 't':
            return '\t';
        case 'n':
            return '\n';
        case 'f':
            return '\f';
        case 'r':
            return '\r';
        default:
            return '\0';
    }
}

}  // namespace

std::string token_of_key(std::string_view key) {
    if (key.find('\\') == std::string_view::npos) {
        return std::string(key);
    }
    std::string token;
    token.reserve(key.size());
    for (std::size_t i = 0; i < key.size(); ++i) {
        const char byte = key[i];
        if (byte == '\\' && i + 1 < key.size()) {
            if (const char original = unescaped(key[i + 1]); original != '\0') {
                token.push_back(original);
                ++i;
                continue;
            }
        }
        token.push_back(byte);
    }
    return token;
}

}  // namespace vorn::typing::text
