// A reader of objects and numbers straight from JSON text, without building
// values, for callers that want well-formed text fast and can hand the rest
// to JsonValue::parse. On every text it accepts it reads what parse reads;
// wherever parse would write a message, substitute a value or throw, and on
// everything it does not know (strings, arrays, literals and keys that are no
// strings as values), it gives up instead, before the caller acted on
// anything. A caller that then parses the whole text gets parse's full
// behaviour, messages and exceptions included.
//
// Keys come decoded as parse_string decodes them, or with their "\u" escapes
// decoded (decode_unicode_in_keys) as parse_decoding_keys_of reads them; the
// tree would hold them escaped again (escape_string), which is one to one.
// A key that the decoding refuses (half a surrogate pair) makes the reader
// give up. Objects keep the last value of a repeated key, and nothing is read
// after the outermost object, as in parse.
//
// The text is UTF-8 (StrictReader) or code points of one width read as their
// UTF-8 form (BasicStrictReader<UnitText<...>>, see scanner.h); keys come as
// UTF-8 either way.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

#include "json/json_parser.h"
#include "json/json_value.h"
#include "json/scanner.h"

namespace vorn::typing::text {

template <typename Text>
class BasicStrictReader {
  public:
    explicit BasicStrictReader(const Text& text, std::size_t pos = 0) noexcept
        : text_(text), pos_(pos) {}

    std::size_t position() const noexcept { return pos_; }

    // Skips whitespace and enters the object that starts there; false (give
    // up) when none does.
    bool enter_object();

    enum class Next {
        member,   // key() is the member's key; the reader is on its value
        end,      // the object's closing brace was read; the object around it goes on
        give_up,  // the reader is spent
    };

    // Reads on to the next member of the object entered last: the comma after
    // the value before (or the closing brace), the key and the colon.
    Next next_member();

    // Enters the object that starts here and calls `member()` with the reader
    // on each member's value, which it must read; false (give up) when the
    // reader gives up or `member` returns false.
    template <typename Member>
    bool read_object(Member&& member) {
        if (!enter_object()) {
            return false;
        }
        while (true) {
            switch (next_member()) {
                case Next::end:
                    return true;
                case Next::give_up:
                    return false;
                case Next::member:
                    break;
            }
            if (!member()) {
                return false;
            }
        }
    }

    // How the keys read from here on take "\u" escapes: kept as written
    // (parse's way, the default) or decoded.
    void decode_unicode_in_keys(UnicodeEscapes unicode) noexcept { unicode_ = unicode; }

    // The current member's key, in UTF-8. A view of a UTF-8 text, or of the
    // reader's own buffer; valid until the next call of next_member.
    std::string_view key() const noexcept { return key_; }

    // The first character of the current value (a code point beyond ASCII as
    // a byte that is none of the grammar's characters).
    char peek() const noexcept {
        const auto c = char_at(text_, pos_);
        return is_ascii(c) ? static_cast<char>(c) : '\x80';
    }

    // Reads the current value if it is an Integer; false (give up) for any
    // other value, a Float included.
    bool read_integer(std::int32_t& value);

    // Reads the current value if it is a number, an Integer or a Float; false
    // (give up) otherwise.
    bool read_number(JsonValue& value);

  private:
    static constexpr bool kUtf8 = std::is_same_v<Text, std::string_view>;

    void skip_whitespace() noexcept {
        while (pos_ < text_.size() && is_whitespace(text_[pos_])) {
            ++pos_;
        }
    }
    bool read_key();
    bool read_escaped_key();
    // The number that starts here, copied (its characters are ASCII) with the
    // character that ends it, for code-point texts.
    std::string_view spell_number();

    Text text_;
    std::size_t pos_;
    std::size_t depth_ = 0;  // objects entered and not yet ended
    bool first_ = false;     // no member read yet in the object entered last
    std::string_view key_;
    std::string key_buffer_;
    std::string spelled_;
    UnicodeEscapes unicode_ = UnicodeEscapes::keep;
};

using StrictReader = BasicStrictReader<std::string_view>;

template <typename Text>
inline typename BasicStrictReader<Text>::Next BasicStrictReader<Text>::next_member() {
    skip_whitespace();
    const auto c = char_at(text_, pos_);
    if (first_) {
        first_ = false;
    } else if (c == ',') {
        ++pos_;
        skip_whitespace();
    } else if (c != '}') {
        return Next::give_up;
    }
    if (char_at(text_, pos_) == '}') {
        // Only directly after the opening brace or a value: "{1," followed by
        // "}" is a trailing comma, which parse reports.
        if (c == ',') {
            return Next::give_up;
        }
        ++pos_;
        --depth_;
        return Next::end;
    }
    if (!read_key()) {
        return Next::give_up;
    }
    skip_whitespace();
    if (char_at(text_, pos_) != ':') {
        return Next::give_up;
    }
    ++pos_;
    skip_whitespace();
    return Next::member;
}

template <typename Text>
inline bool BasicStrictReader<Text>::read_key() {
    if (char_at(text_, pos_) != '"') {
        return false;  // parse would take a number or a literal as the empty key
    }
    const auto* const begin = text_.data() + pos_ + 1;
    const auto* const end = text_.data() + text_.size();
    const auto* cursor = begin;
    while (cursor < end && *cursor != '"' && *cursor != '\\') {
        ++cursor;
    }
    if (cursor == end) {
        return false;  // unterminated
    }
    if (*cursor == '\\') {
        return read_escaped_key();
    }
    const auto size = static_cast<std::size_t>(cursor - begin);
    if constexpr (kUtf8) {
        key_ = std::string_view(begin, size);
    } else {
        // The buffer only grows: most keys are written into room they found.
        if (key_buffer_.size() < size * kMostUtf8Bytes) {
            key_buffer_.resize(size * kMostUtf8Bytes);
        }
        char* const out = key_buffer_.data();
        key_ = std::string_view(out, static_cast<std::size_t>(write_utf8(begin, size, out) - out));
    }
    pos_ = static_cast<std::size_t>(cursor + 1 - text_.data());
    return true;
}

template <typename Text>
inline bool BasicStrictReader<Text>::read_integer(std::int32_t& value) {
    // Only "-?[0-9]+" followed by a delimiter: anything else in the mantissa
    // ("12-3", "1.5") or an exponent makes parse read another text or kind.
    const auto* const start = text_.data() + pos_;
    const auto* const end = text_.data() + text_.size();
    const auto* cursor = start;
    if (cursor < end && *cursor == '-') {
        ++cursor;
    }
    const auto* const digits = cursor;
    while (cursor < end && is_digit(*cursor)) {
        ++cursor;
    }
    if (cursor == digits || !is_number_delimiter(cursor < end ? *cursor : 0)) {
        return false;
    }
    // Counts are short: up to nine digits cannot leave the 32-bit range.
    constexpr std::ptrdiff_t kSafeDigits = 9;
    if (cursor - digits <= kSafeDigits) {
        std::int32_t magnitude = 0;
        for (const auto* digit = digits; digit < cursor; ++digit) {
            magnitude = magnitude * 10 + static_cast<std::int32_t>(*digit - '0');
        }
        value = digits == start ? magnitude : -magnitude;
        pos_ = static_cast<std::size_t>(cursor - text_.data());
        return true;
    }
    std::from_chars_result result{};
    if constexpr (kUtf8) {
        result = std::from_chars(start, cursor, value);
    } else {
        // The digits of an Integer are ASCII. More of them than an int32
        // takes are leading zeros, which parse reads and this leaves to it.
        char copy[24];
        const auto size = static_cast<std::size_t>(cursor - start);
        if (size > sizeof copy) {
            return false;
        }
        for (std::size_t i = 0; i < size; ++i) {
            copy[i] = static_cast<char>(start[i]);
        }
        result = std::from_chars(copy, copy + size, value);
    }
    if (result.ec != std::errc()) {
        return false;  // out of range: parse throws
    }
    pos_ = static_cast<std::size_t>(cursor - text_.data());
    return true;
}

}  // namespace vorn::typing::text
