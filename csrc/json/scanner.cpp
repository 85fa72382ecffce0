#include "json/scanner.h"

#include <cmath>
#include <cstdint>
#include <string>

#include "json/number_text.h"

namespace vorn::typing::text {

namespace {

bool is_hex_digit(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
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

}  // namespace

StringEnd read_string(std::string_view text, std::size_t& pos, std::string& out, char& culprit) {
    ++pos;
    while (true) {
        if (pos >= text.size()) {
            return StringEnd::unterminated;
        }
        const char c = text[pos];
        if (c == '"') {
            ++pos;
            return StringEnd::closed;
        }
        if (c != '\\') {
            out.push_back(c);
            ++pos;
            continue;
        }
        ++pos;
        if (pos >= text.size()) {
            continue;  // a backslash as the last byte: unterminated
        }
        const char letter = text[pos];
        if (letter == 'u') {
            // Kept as written: the escape is not decoded into a code point.
            for (std::size_t offset = 1; offset <= 4; ++offset) {
                const char digit = char_at(text, pos + offset);
                if (!is_hex_digit(digit)) {
                    culprit = digit;
                    return StringEnd::bad_escape;
                }
            }
            out.push_back('\\');
            out.append(text.substr(pos, 5));
            pos += 4;
        } else {
            out.push_back(unescaped(letter));
        }
        ++pos;
    }
}

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
