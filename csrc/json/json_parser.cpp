#include "json/json_parser.h"

#include <cstdint>
#include <iostream>
#include <utility>

#include "json/scanner.h"

namespace vorn::typing::text {

namespace {

// Up to `count` bytes from `pos`, fewer where the text ends.
std::string_view excerpt(std::string_view text, std::size_t pos, std::size_t count) {
    return pos < text.size() ? text.substr(pos, count) : std::string_view();
}

// One line on standard error; the culprit is written raw, a NUL byte included.
void report(const char* message, std::string_view culprit) {
    std::string line(message);
    line += culprit;
    line += "'\n";
    std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
}

void report(const char* message, char culprit) { report(message, std::string_view(&culprit, 1)); }

}  // namespace

LoneSurrogateError::LoneSurrogateError(std::string_view escape)
    : std::runtime_error("lone surrogate escape " + std::string(escape)), escape_(escape) {}

JsonValue JsonValue::parse(std::string_view text) {
    std::size_t pos = 0;
    return parse_value(text, pos);
}

JsonValue JsonValue::parse_decoding_keys_of(std::string_view text, std::string_view member) {
    std::size_t pos = 0;
    return parse_value(text, pos, 0, KeyDecoding{false, &member});
}

void skip_whitespace(std::string_view text, std::size_t& pos) {
    while (is_whitespace(char_at(text, pos))) {
        ++pos;
    }
}

JsonValue parse_value(std::string_view text, std::size_t& pos, std::size_t depth,
                      KeyDecoding keys) {
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
            return parse_object(text, pos, depth, keys);
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

JsonValue parse_object(std::string_view text, std::size_t& pos, std::size_t depth,
                       KeyDecoding keys) {
    JsonValue object = JsonValue::make(JsonKind::Object);
    ++pos;
    skip_whitespace(text, pos);
    if (char_at(text, pos) == '}') {
        ++pos;
        return object;
    }
    while (true) {
        skip_whitespace(text, pos);
        const JsonValue key = keys.own && char_at(text, pos) == '"'
                                  ? parse_string(text, pos, UnicodeEscapes::decode)
                                  : parse_value(text, pos, depth + 1);
        skip_whitespace(text, pos);
        if (char_at(text, pos) != ':') {
            report("Error: Object: Expected colon, found '", char_at(text, pos));
            return object;
        }
        ++pos;
        skip_whitespace(text, pos);
        // Keys are kept escaped; a key that is not a string files its value under "".
        bool is_string = false;
        std::string key_text = key.to_string(is_string);
        const KeyDecoding value_keys{keys.member != nullptr && key_text == *keys.member};
        JsonValue value = parse_value(text, pos, depth + 1, value_keys);
        object.member(key_text) = std::move(value);
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

JsonValue parse_array(std::string_view text, std::size_t& pos, std::size_t depth) {
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

JsonValue parse_string(std::string_view text, std::size_t& pos, UnicodeEscapes unicode) {
    std::string buffer;
    char culprit = '\0';
    switch (read_string(text, pos, buffer, culprit, unicode)) {
        case StringEnd::closed:
            break;
        case StringEnd::unterminated:
            // No closing quotation mark: the string ends with the text, and the
            // enclosing productions will meet the end as well.
            report("ERROR: String: Unterminated string, found '", '\0');
            break;
        case StringEnd::bad_escape:
            report("ERROR: String: Expected hex character in unicode escape, found '", culprit);
            return JsonValue::make(JsonKind::String);
        case StringEnd::lone_surrogate:
            throw LoneSurrogateError(text.substr(pos - 1, 6));
    }
    return JsonValue(std::move(buffer));
}

JsonValue parse_number(std::string_view text, std::size_t& pos) {
    NumberText number;
    char culprit = '\0';
    switch (scan_number(text, pos, number, culprit)) {
        case NumberEnd::delimited:
            return number_value(number);
        case NumberEnd::bad_exponent:
            report("ERROR: Number: Expected a number for exponent, found '", culprit);
            return {};
        case NumberEnd::unexpected_char:
            report("ERROR: Number: unexpected character '", culprit);
            return {};
    }
    return {};
}

JsonValue parse_boolean(std::string_view text, std::size_t& pos) {
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

JsonValue parse_null(std::string_view text, std::size_t& pos) {
    if (excerpt(text, pos, 4) == "null") {
        pos += 4;
    } else {
        report("ERROR: Null: Expected 'null', found '", excerpt(text, pos, 4));
    }
    return {};
}

}  // namespace vorn::typing::text
