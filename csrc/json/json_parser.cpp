#include "json/json_parser.h"

#include <cmath>
#include <cstdint>
#include <iostream>
#include <utility>

#include "json/number_text.h"

namespace vorn::typing::text {

namespace {

char char_at(const std::string& text, std::size_t pos) {
    return pos < text.size() ? text[pos] : '\0';
}

// Up to `count` bytes from `pos`, fewer where the text ends.
std::string excerpt(const std::string& text, std::size_t pos, std::size_t count) {
    return pos < text.size() ? text.substr(pos, count) : std::string();
}

bool is_whitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_hex_digit(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool is_number_delimiter(char c) { return is_whitespace(c) || c == ',' || c == ']' || c == '}'; }

// One line on standard error; the culprit is written raw, a NUL byte included.
void report(const char* message, const std::string& culprit) {
    std::string line(message);
    line += culprit;
    line += "'\n";
    std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
}

void report(const char* message, char culprit) { report(message, std::string(1, culprit)); }

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

JsonValue JsonValue::parse(const std::string& text) {
    std::size_t pos = 0;
    return parse_value(text, pos);
}

void skip_whitespace(const std::string& text, std::size_t& pos) {
    while (is_whitespace(char_at(text, pos))) {
        ++pos;
    }
}

JsonValue parse_value(const std::string& text, std::size_t& pos, std::size_t depth) {
    skip_whitespace(text, pos);
    const char c = char_at(text, pos);
    if ((c == '[' || c == '{') && depth >= kMaxNestingDepth) {
        report("ERROR: Parse: Nesting too deep, found '", c);
        return {};
    }
    switch (c) {
        case '"':
            return parse_string(text, pos);
        case '[':
            return parse_array(text, pos, depth);
        case '{':
            return parse_object(text, pos, depth);
        case 't':
        case 'f':
            return parse_boolean(text, pos);
        case 'n':
            return parse_null(text, pos);
        default:
            if (c == '-' || is_digit(c)) {
                return parse_number(text, pos);
            }
            report("ERROR: Parse: Unknown starting character '", c);
            return {};
    }
}

JsonValue parse_object(const std::string& text, std::size_t& pos, std::size_t depth) {
    JsonValue object = JsonValue::make(JsonKind::Object);
    ++pos;
    skip_whitespace(text, pos);
    if (char_at(text, pos) == '}') {
        ++pos;
        return object;
    }
    while (true) {
        const JsonValue key = parse_value(text, pos, depth + 1);
        skip_whitespace(text, pos);
        if (char_at(text, pos) != ':') {
            report("Error: Object: Expected colon, found '", char_at(text, pos));
            return object;
        }
        ++pos;
        skip_whitespace(text, pos);
        JsonValue value = parse_value(text, pos, depth + 1);
        // Keys are kept escaped; a key that is not a string files its value under "".
        bool is_string = false;
        object.member(key.to_string(is_string)) = std::move(value);
        skip_whitespace(text, pos);
        const char c = char_at(text, pos);
        if (c == ',') {
            ++pos;
            continue;
        }
        if (c == '}') {
            ++pos;
        } else {
            report("ERROR: Object: Expected comma, found '", c);
        }
        return object;
    }
}

JsonValue parse_array(const std::string& text, std::size_t& pos, std::size_t depth) {
    JsonValue array = JsonValue::make(JsonKind::Array);
    ++pos;
    skip_whitespace(text, pos);
    if (char_at(text, pos) == ']') {
        ++pos;
        return array;
    }
    for (std::uint32_t index = 0;; ++index) {
        array.element(index) = parse_value(text, pos, depth + 1);
        skip_whitespace(text, pos);
        const char c = char_at(text, pos);
        if (c == ',') {
            ++pos;
            continue;
        }
        if (c == ']') {
            ++pos;
            return array;
        }
        report("ERROR: Array: Expected ',' or ']', found '", c);
        return JsonValue::make(JsonKind::Array);
    }
}

JsonValue parse_string(const std::string& text, std::size_t& pos) {
    std::string buffer;
    ++pos;
    while (true) {
        if (pos >= text.size()) {
            // No closing quotation mark: the string ends with the text, and the
            // enclosing productions will meet the end as well.
            report("ERROR: String: Unterminated string, found '", '\0');
            return JsonValue(std::move(buffer));
        }
        const char c = text[pos];
        if (c == '"') {
            ++pos;
            return JsonValue(std::move(buffer));
        }
        if (c != '\\') {
            buffer.push_back(c);
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
                    report("ERROR: String: Expected hex character in unicode escape, found '",
                           digit);
                    return JsonValue::make(JsonKind::String);
                }
            }
            buffer.push_back('\\');
            buffer.append(text, pos, 5);
            pos += 4;
        } else {
            buffer.push_back(unescaped(letter));
        }
        ++pos;
    }
}

JsonValue parse_number(const std::string& text, std::size_t& pos) {
    // The mantissa takes minus signs, digits and full stops in any order; the
    // conversion later reads its longest valid prefix.
    std::string mantissa;
    bool has_point = false;
    char c = '\0';
    while (true) {
        c = char_at(text, pos++);
        if (c == '-' || is_digit(c)) {
            mantissa.push_back(c);
        } else if (c == '.') {
            mantissa.push_back(c);
            has_point = true;
        } else {
            break;
        }
    }
    const bool has_exponent = c == 'e' || c == 'E';
    std::int32_t power = 0;
    if (has_exponent) {
        std::string exponent;
        if (char_at(text, pos) == '-') {
            exponent.push_back('-');
            ++pos;
        }
        while (true) {
            c = char_at(text, pos++);
            if (!is_digit(c)) {
                break;
            }
            exponent.push_back(c);
        }
        if (!is_number_delimiter(c)) {
            report("ERROR: Number: Expected a number for exponent, found '", c);
            return {};
        }
        power = text_to_int32(exponent);
    } else if (!is_number_delimiter(c)) {
        report("ERROR: Number: unexpected character '", c);
        return {};
    }
    --pos;  // back onto the delimiter, which belongs to the enclosing production

    const double scale = std::pow(10.0, static_cast<double>(power));
    if (has_point) {
        return JsonValue(text_to_double(mantissa) * scale);
    }
    if (has_exponent) {
        return JsonValue(static_cast<double>(text_to_int32(mantissa)) * scale);
    }
    return JsonValue(text_to_int32(mantissa));
}

JsonValue parse_boolean(const std::string& text, std::size_t& pos) {
    if (excerpt(text, pos, 4) == "true") {
        pos += 4;
        return JsonValue(true);
    }
    if (excerpt(text, pos, 5) == "false") {
        pos += 5;
        return JsonValue(false);
    }
    report("ERROR: Bool: Expected 'true' or 'false', found '", excerpt(text, pos, 5));
    return {};
}

JsonValue parse_null(const std::string& text, std::size_t& pos) {
    if (excerpt(text, pos, 4) == "null") {
        pos += 4;
    } else {
        report("ERROR: Null: Expected 'null', found '", excerpt(text, pos, 4));
    }
    return {};
}

}  // namespace vorn::typing::text
