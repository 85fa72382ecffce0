#include "json/scanner.h"

#include <cmath>
#include <cstdint>
#include <string>

#include "json/number_text.h"

namespace vorn::typing::text {

namespace {

template <typename Code>
bool is_hex_digit(Code c) {
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A character of the text as the culprit of a message (a byte of UTF-8 text
// as itself) or as an escape's letter: a code point beyond ASCII as a byte
// that is none of the grammar's characters.
inline char narrowed(char byte) { return byte; }
template <typename Code>
char narrowed(Code c) {
    return is_ascii(c) ? static_cast<char>(c) : '\x80';
}

// Appends a character of a string's content: the byte itself from UTF-8
// text, the UTF-8 form of a code point.
inline void append_unit(std::string& out, char byte) { out.push_back(byte); }
template <typename Unit>
void append_unit(std::string& out, Unit code) {
    append_utf8(out, static_cast<std::uint32_t>(code));
}

// After an unknown escape, what stays of the character that followed the
// backslash: UTF-8 text loses that character's first byte alone (the letter
// that the escape drops), so a code point keeps the rest of its UTF-8 form,
// and both kinds of text give the same bytes.
inline void append_after_dropped_byte(std::string& /*out*/, char /*byte*/) {}
template <typename Unit>
void append_after_dropped_byte(std::string& out, Unit code) {
    if (!is_ascii(code)) {
        std::string bytes;
        append_utf8(bytes, static_cast<std::uint32_t>(code));
        out.append(bytes, 1, std::string::npos);
    }
}

// What an escape character stands for inside a string, except "\u".
char unescaped(char letter) {
    switch (letter) {
        case '"':
            return '"';
        case '/':
            return '/';
        case 'b':
            return '\b';
        case 'f':
            return '\f';
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        default:
            // Unknown escapes keep the backslash and drop the letter.
            return '\\';
    }
}

// The four hex digits after the "u" at `pos` as a number; false, with the
// first character that is not a hex digit, when there are not four.
template <typename Text>
bool read_hex_unit(const Text& text, std::size_t pos, std::uint32_t& unit, char& culprit) {
    unit = 0;
    for (std::size_t offset = 1; offset <= 4; ++offset) {
        const auto digit = char_at(text, pos + offset);
        if (!is_hex_digit(digit)) {
            culprit = narrowed(digit);
            return false;
        }
        const auto value = static_cast<std::uint32_t>(
            is_digit(digit) ? digit - '0' : (static_cast<int>(digit) | 0x20) - 'a' + 10);
        unit = (unit << 4U) | value;
    }
    return true;
}

bool is_high_surrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Appends the character of the "\u" escape whose "u" is at `pos` and whose
// digits make `unit`; a high surrogate takes the escape that follows it as
// its other half, and `pos` then moves to that escape's "u". A second escape
// without four hex digits is bad_escape, as it would be on its own.
template <typename Text>
StringEnd decode_unit(const Text& text, std::size_t& pos, std::uint32_t unit, std::string& out,
                      char& culprit) {
    if (is_low_surrogate(unit)) {
        return StringEnd::lone_surrogate;
    }
    if (!is_high_surrogate(unit)) {
        append_utf8(out, unit);
        return StringEnd::closed;
    }
    const std::size_t next = pos + 6;
    std::uint32_t low = 0;
    if (char_at(text, pos + 5) != '\\' || char_at(text, next) != 'u') {
        return StringEnd::lone_surrogate;
    }
    if (!read_hex_unit(text, next, low, culprit)) {
        pos = next;
        return StringEnd::bad_escape;
    }
    if (!is_low_surrogate(low)) {
        return StringEnd::lone_surrogate;
    }
    append_utf8(out, 0x10000 + ((unit - 0xD800) << 10U) + (low - 0xDC00));
    pos = next;
    return StringEnd::closed;
}

}  // namespace

template <typename Text>
StringEnd read_string(const Text& text, std::size_t& pos, std::string& out, char& culprit,
                      UnicodeEscapes unicode) {
    ++pos;
    while (true) {
        if (pos >= text.size()) {
            return StringEnd::unterminated;
        }
        const auto c = text[pos];
        if (c == '"') {
            ++pos;
            return StringEnd::closed;
        }
        if (c != '\\') {
            append_unit(out, c);
            ++pos;
            continue;
        }
        ++pos;
        if (pos >= text.size()) {
            continue;  // a backslash as the last byte: unterminated
        }
        const auto letter = text[pos];
        if (letter == 'u') {
            std::uint32_t unit = 0;
            if (!read_hex_unit(text, pos, unit, culprit)) {
                return StringEnd::bad_escape;
            }
            if (unicode == UnicodeEscapes::keep) {
                out.push_back('\\');
                for (std::size_t offset = 0; offset < 5; ++offset) {
                    out.push_back(static_cast<char>(text[pos + offset]));
                }
            } else if (const StringEnd end = decode_unit(text, pos, unit, out, culprit);
                       end != StringEnd::closed) {
                return end;
            }
            pos += 4;
        } else {
            out.push_back(unescaped(narrowed(letter)));
            append_after_dropped_byte(out, letter);
        }
        ++pos;
    }
}

template StringEnd read_string(const std::string_view&, std::size_t&, std::string&, char&,
                               UnicodeEscapes);
template StringEnd read_string(const Latin1Text&, std::size_t&, std::string&, char&,
                               UnicodeEscapes);
template StringEnd read_string(const Ucs2Text&, std::size_t&, std::string&, char&, UnicodeEscapes);
template StringEnd read_string(const Ucs4Text&, std::size_t&, std::string&, char&, UnicodeEscapes);

NumberEnd scan_number(std::string_view text, std::size_t& pos, NumberText& number, char& culprit) {
    // The mantissa takes minus signs, digits and full stops in any order; the
    // conversion later reads its longest valid prefix.
    const std::size_t mantissa_start = pos;
    number = NumberText{};
    char c = '\0';
    while (true) {
        c = char_at(text, pos++);
        if (c == '.') {
            number.has_point = true;
        } else if (c != '-' && !is_digit(c)) {
            break;
        }
    }
    number.mantissa = text.substr(mantissa_start, pos - 1 - mantissa_start);
    number.has_exponent = c == 'e' || c == 'E';
    if (number.has_exponent) {
        const std::size_t exponent_start = pos;
        if (char_at(text, pos) == '-') {
            ++pos;
        }
        while (true) {
            c = char_at(text, pos++);
            if (!is_digit(c)) {
                break;
            }
        }
        number.exponent = text.substr(exponent_start, pos - 1 - exponent_start);
        if (!is_number_delimiter(c)) {
            culprit = c;
            return NumberEnd::bad_exponent;
        }
    } else if (!is_number_delimiter(c)) {
        culprit = c;
        return NumberEnd::unexpected_char;
    }
    --pos;  // back onto the delimiter, which belongs to the enclosing production
    return NumberEnd::delimited;
}

JsonValue number_value(const NumberText& number) {
    const std::int32_t power = number.has_exponent ? text_to_int32(number.exponent) : 0;
    const double scale = std::pow(10.0, static_cast<double>(power));
    if (number.has_point) {
        return JsonValue(text_to_double(std::string(number.mantissa)) * scale);
    }
    if (number.has_exponent) {
        return JsonValue(static_cast<double>(text_to_int32(number.mantissa)) * scale);
    }
    return JsonValue(text_to_int32(number.mantissa));
}

}  // namespace vorn::typing::text
