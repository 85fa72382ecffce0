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
// give up. Objects keep the last
// value of a repeated key, and nothing is read after the outermost object,
// as in parse.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "json/json_parser.h"
#include "json/json_value.h"
#include "json/scanner.h"

namespace vorn::typing::text {

class StrictReader {
  public:
    explicit StrictReader(std::string_view text, std::size_t pos = 0) noexcept
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

    // The current member's key. A view of the text, or of the reader's own
    // buffer for a key with escapes; valid until the next call of next_member.
    std::string_view key() const noexcept { return key_; }

    // The first character of the current value.
    char peek() const noexcept { return char_at(text_, pos_); }

    // Reads the current value if it is an Integer; false (give up) for any
    // other value, a Float included.
    bool read_integer(std::int32_t& value);

    // Reads the current value if it is a number, an Integer or a Float; false
    // (give up) otherwise.
    bool read_number(JsonValue& value);

  private:
    void skip_whitespace() noexcept {
        while (pos_ < text_.size() && is_whitespace(text_[pos_])) {
            ++pos_;
        }
    }
    bool read_key();
    bool read_escaped_key();

    std::string_view text_;
    std::size_t pos_;
    std::size_t depth_ = 0;  // objects entered and not yet ended
    bool first_ = false;     // no member read yet in the object entered last
    std::string_view key_;
    std::string key_buffer_;
    UnicodeEscapes unicode_ = UnicodeEscapes::keep;
};

inline StrictReader::Next StrictReader::next_member() {
    skip_whitespace();
    const char c = char_at(text_, pos_);
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

inline bool StrictReader::read_key() {
    if (char_at(text_, pos_) != '"') {
        return false;  // parse would take a number or a literal as the empty key
    }
    const char* const begin = text_.data() + pos_ + 1;
    const char* const end = text_.data() + text_.size();
    const char* cursor = begin;
    while (cursor < end && *cursor != '"' && *cursor != '\\') {
        ++cursor;
    }
    if (cursor == end) {
        return false;  // unterminated
    }
    if (*cursor == '\\') {
        return read_escaped_key();
    }
    key_ = std::string_view(begin, static_cast<std::size_t>(cursor - begin));
    pos_ = static_cast<std::size_t>(cursor + 1 - text_.data());
    return true;
}

inline bool StrictReader::read_integer(std::int32_t& value) {
    // Only "-?[0-9]+" followed by a delimiter: anything else in the mantissa
    // ("12-3", "1.5") or an exponent makes parse read another text or kind.
    const char* const start = text_.data() + pos_;
    const char* const end = text_.data() + text_.size();
    const char* cursor = start;
    if (cursor < end && *cursor == '-') {
        ++cursor;
    }
    const char* const digits = cursor;
    while (cursor < end && is_digit(*cursor)) {
        ++cursor;
    }
    if (cursor == digits || !is_number_delimiter(cursor < end ? *cursor : '\0')) {
        return false;
    }
    const auto result = std::from_chars(start, cursor, value);
    if (result.ec != std::errc()) {
        return false;  // out of range: parse throws
    }
    pos_ = static_cast<std::size_t>(cursor - text_.data());
    return true;
}

}  // namespace vorn::typing::text
