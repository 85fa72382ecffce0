#include "json/strict_reader.h"

#include <stdexcept>

namespace vorn::typing::text {

bool StrictReader::enter_object() {
    skip_whitespace();
    // parse refuses to open more containers than this, with a message.
    if (char_at(text_, pos_) != '{' || depth_ >= kMaxNestingDepth) {
        return false;
    }
    ++pos_;
    ++depth_;
    first_ = true;
    return true;
}

bool StrictReader::read_escaped_key() {
    key_buffer_.clear();
    char culprit = '\0';
    if (read_string(text_, pos_, key_buffer_, culprit, unicode_) != StringEnd::closed) {
        return false;
    }
    key_ = key_buffer_;
    return true;
}

bool StrictReader::read_number(JsonValue& value) {
    const char c = peek();
    if (c != '-' && !is_digit(c)) {
        return false;
    }
    NumberText number;
    char culprit = '\0';
    if (scan_number(text_, pos_, number, culprit) != NumberEnd::delimited) {
        return false;
    }
    try {
        value = number_value(number);
    } catch (const std::invalid_argument&) {
        return false;
    } catch (const std::out_of_range&) {
        return false;
    }
    return true;
}

}  // namespace vorn::typing::text
