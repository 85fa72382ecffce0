#include "json/escape.h"

#include <algorithm>
#include <array>
#include <utility>

namespace vorn::typing::text {

namespace {

// Each escaped byte with the letter that follows the backslash for it; both
// directions read this one table so that they cannot drift apart.
constexpr std::array<std::pair<char, char>, 7> kEscapes{
    {{'"', '"'}, {'\\', '\\'}, {'\b', 'b'}, {'\t', 't'}, {'\n', 'n'}, {'\f', 'f'}, {'\r', 'r'}}};

// The letter that follows the backslash, or 0 for a byte that passes unchanged.
char escape_letter(char byte) {
    for (const auto& [raw, letter] : kEscapes) {
        if (raw == byte) {
            return letter;
        }
    }
    return '\0';
}

// The byte that a backslash and `letter` stand for, or 0 when it is no escape
// of ours.
char escaped_byte(char letter) {
    for (const auto& [raw, escape] : kEscapes) {
        if (escape == letter) {
            return raw;
        }
    }
    return '\0';
}

}  // namespace

std::string escape_string(std::string_view raw) {
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

bool needs_escape(std::string_view raw) {
    // A byte table: a model's million keys are checked one by one on dump.
    static constexpr auto kEscaped = [] {
        std::array<bool, 256> table{};
        for (const auto& escape : kEscapes) {
            table[static_cast<unsigned char>(escape.first)] = true;
        }
        return table;
    }();
    return std::any_of(raw.begin(), raw.end(),
                       [](const char byte) { return kEscaped[static_cast<unsigned char>(byte)]; });
}

std::string unescape_string(std::string_view escaped) {
    std::string raw;
    raw.reserve(escaped.size());
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const char byte = escaped[i];
        if (byte == '\\' && i + 1 < escaped.size()) {
            if (const char original = escaped_byte(escaped[i + 1]); original != '\0') {
                raw.push_back(original);
                ++i;
                continue;
            }
        }
        raw.push_back(byte);
    }
    return raw;
}

}  // namespace vorn::typing::text
