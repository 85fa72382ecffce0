#include "json/escape.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
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

// The top bit of every byte of the word that may be escaped: every escaped
// byte is a quotation mark, a backslash or below 0x0e. A byte's test may
// borrow from the byte above it only when it is itself a candidate, so the
// bytes above the first candidate are the only false ones.
template <typename Word>
Word escape_candidates(const char* bytes) {
    constexpr Word kOnes = static_cast<Word>(0x0101010101010101U);
    constexpr Word kHighs = static_cast<Word>(0x8080808080808080U);
    const auto zeros = [](Word word) { return (word - kOnes) & ~word & kHighs; };
    Word word = 0;
    std::memcpy(&word, bytes, sizeof(word));
    return ((word - kOnes * 0x0e) & ~word & kHighs) | zeros(word ^ (kOnes * '"')) |
           zeros(word ^ (kOnes * '\\'));
}

template <typename Word>
bool may_need_escape(const char* bytes) {
    return escape_candidates<Word>(bytes) != 0;
}

// The bytes of a little-endian word that come first in memory, `count` of
// them (at most 8).
std::uint64_t first_bytes(std::size_t count) {
    return count >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * count)) - 1;
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
    // A byte table, asked only where a word may hold an escaped byte: a
    // model's million keys are checked one by one on dump.
    static constexpr auto kEscaped = [] {
        std::array<bool, 256> table{};
        for (const auto& escape : kEscapes) {
            table[static_cast<unsigned char>(escape.first)] = true;
        }
        return table;
    }();
    const auto escaped = [](const char byte) { return kEscaped[static_cast<unsigned char>(byte)]; };
    const char* const data = raw.data();
    const std::size_t size = raw.size();
    // Words of eight (or four) bytes cover the text, the last one
    // overlapping the one before, as a short copy would.
    if (size < 4) {
        return std::any_of(raw.begin(), raw.end(), escaped);
    }
    if (size < 8) {
        return (may_need_escape<std::uint32_t>(data) ||
                may_need_escape<std::uint32_t>(data + size - 4)) &&
               std::any_of(raw.begin(), raw.end(), escaped);
    }
    for (std::size_t i = 0; i < size; i += 8) {
        const std::size_t at = i + 8 <= size ? i : size - 8;
        if (may_need_escape<std::uint64_t>(data + at) &&
            std::any_of(data + at, data + at + 8, escaped)) {
            return true;
        }
    }
    return false;
}

bool needs_escape_padded(const char* text, std::size_t size) {
    if (size > kPaddedText) {
        return needs_escape({text, size});
    }
    // Bytes past the text sit above it in a little-endian word, where they
    // cannot make a byte of the text a candidate.
    const std::uint64_t candidates =
        (escape_candidates<std::uint64_t>(text) & first_bytes(size)) |
        (escape_candidates<std::uint64_t>(text + 8) & first_bytes(size < 8 ? 0 : size - 8));
    return candidates != 0 && needs_escape({text, size});
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
