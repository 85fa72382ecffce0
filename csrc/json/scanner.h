// The lexical pieces of our JSON text that the lenient parser and the strict
// reader share, so that both read strings and numbers byte for byte alike:
// they differ only in what they do at a fault (the parser reports it and
// substitutes a value, the strict reader gives up).
//
// A text is UTF-8 in a std::string_view, or code points of one width in a
// UnitText (code_units.h), read as their UTF-8 form: every character that
// the grammar names is ASCII, a code point above it is never one of them,
// just as no byte of a multi-byte UTF-8 character is, and what strings
// collect is appended as UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

#include "json/code_units.h"
#include "json/json_value.h"

namespace vorn::typing::text {

// Every position at or beyond the end of the text reads as NUL.
template <typename Text>
typename Text::value_type char_at(const Text& text, std::size_t pos) {
    return pos < text.size() ? text[pos] : typename Text::value_type{};
}

// What isspace reports in the "C" locale, whatever the locale.
template <typename Code>
bool is_whitespace(Code c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

template <typename Code>
bool is_digit(Code c) {
    return c >= '0' && c <= '9';
}

template <typename Code>
bool is_ascii(Code c) {
    return static_cast<std::make_unsigned_t<Code>>(c) < 0x80;
}

template <typename Code>
bool is_number_delimiter(Code c) {
    return is_whitespace(c) || c == ',' || c == ']' || c == '}';
}

enum class StringEnd {
    closed,          // the closing quotation mark was read
    unterminated,    // the text ended first; the position is at its end
    bad_escape,      // a "\u" without four hex digits; the position is on the "u"
    lone_surrogate,  // UnicodeEscapes::decode only: a "\u" escape that is half a
                     // surrogate pair; the position is on its "u"
};

// What a string's "\u" escapes become: the six characters as written (what
// parse does), or the character they stand for in UTF-8, an escaped
// surrogate pair making one character, for readers whose strings are text.
enum class UnicodeEscapes { keep, decode };

// Reads a string whose opening quotation mark is at `pos`, appending its
// content to `out` with the escapes resolved in one pass from left to right
// (an unknown escape leaves a backslash and drops its letter, so that an
// escaped backslash before "u" never starts a "\u" escape). On `bad_escape`,
// `culprit` is the first character that is not a hex digit.
template <typename Text>
StringEnd read_string(const Text& text, std::size_t& pos, std::string& out, char& culprit,
                      UnicodeEscapes unicode = UnicodeEscapes::keep);

// A number's text as the parser collects it: the mantissa takes minus signs,
// digits and full stops in any order, the exponent an optional minus and
// digits. Both are views of the scanned text.
struct NumberText {
    std::string_view mantissa;
    std::string_view exponent;
    bool has_point = false;
    bool has_exponent = false;
};

enum class NumberEnd {
    delimited,        // the position is on the delimiter after the number
    bad_exponent,     // the exponent's digits end in `culprit`, which delimits nothing
    unexpected_char,  // the mantissa ends in `culprit`, which is neither "e" nor a delimiter
};

// Scans a number that starts at `pos` (a minus sign or a digit). After a
// fault the position is after the culprit.
NumberEnd scan_number(std::string_view text, std::size_t& pos, NumberText& number, char& culprit);

// The Integer or Float that a delimited number stands for. Throws
// std::invalid_argument or std::out_of_range when its text does not convert;
// the exponent is converted first.
JsonValue number_value(const NumberText& number);

}  // namespace vorn::typing::text
