#include "json/strict_reader.h"

#include <stdexcept>

namespace vorn::typing::text {

template <typename Text>
bool BasicStrictReader<Text>::enter_object() {
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

template <typename Text>
bool BasicStrictReader<Text>::read_escaped_key() {
    key_buffer_.clear();
    char culprit = '\0';
    if (read_string(text_, pos_, key_buffer_, culprit, unicode_) != StringEnd::closed) {
        return false;
    }
    key_ = key_buffer_;
    return true;
}

template <typename Text>
std::string_view BasicStrictReader<Text>::spell_number() {
    // scan_number takes these characters and stops at the first other one,
    // which is all it looks at beyond them.
    const auto in_number = [](auto c) {
        return c == '-' || c == '.' || c == 'e' || c == 'E' || is_digit(c);
    };
    spelled_.clear();
    std::size_t at = pos_;
    for (; at < text_.size() && in_number(text_[at]); ++at) {
        spelled_.push_back(static_cast<char>(text_[at]));
    }
    const auto end = char_at(text_, at);
    spelled_.push_back(is_ascii(end) ? static_cast<char>(end) : '\x80');
    return spelled_;
}

template <typename Text>
bool BasicStrictReader<Text>::read_number(JsonValue& value) {
    const char c = peek();
    if (c != '-' && !is_digit(c)) {
        return false;
    }
    NumberText number;
    char culprit = '\0';
    std::size_t pos = 0;
    std::string_view spelled;
    if constexpr (kUtf8) {
        spelled = text_;
        pos = pos_;
    } else {
        spelled = spell_number();
    }
    const std::size_t start = pos;
    if (scan_number(spelled, pos, number, culprit) != NumberEnd::delimited) {
        return false;
    }
    try {
        value = number_value(number);
    } catch (const std::invalid_argument&) {
        return false;
    } catch (const std::out_of_range&) {
        return false;
    }
    pos_ += pos - start;
    return true;
}

template class BasicStrictReader<std::string_view>;
template class BasicStrictReader<Latin1Text>;
template class BasicStrictReader<Ucs2Text>;
template class BasicStrictReader<Ucs4Text>;

}  // namespace vorn::typing::text
