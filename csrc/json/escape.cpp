#include "json/escape.h"

namespace vorn::typing::text {

namespace {

// The letter that follows the backslash, or 0 for a byte that passes unchanged.
char escape_letter(char byte) {
    switch (byte) {
        case '"':
            return '"';
        case '\\':
            return '\\';
        case '\b':
            return 'b';
        case '\t':
            return 't';
        case '\n':
            return 'n';
        case '\f':
            return 'f';
        case '\r':
            return 'r';
        default:
            return '\0';
    }
}

}  // namespace

std::string escape_string(const std::string& raw) {
    std::string escaped;
    escaped.reserve(raw.size());
    for (const char byte : raw) {
        const char letter = escape_letter(byte);
        if (letter == '\0') {
            escaped.push_back(byte);
        } else {
            escaped.push_back('\\');
            escaped.push_back(letter);
        }
    }
    return escaped;
}

}  // namespace vorn::typing::text
