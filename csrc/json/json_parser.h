// The productions of the lenient JSON reader behind JsonValue::parse. Each reads
// from `pos` in the whole text, leaves `pos` after what it consumed (or where it
// stopped on a fault) and returns a new value. Faults are reported as one line
// on standard error and replaced by a substitute value; the enclosing production
// carries on from where the inner one stopped. Every position at or beyond the
// end of the text reads as NUL, so nothing is ever read past the text.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

#include "json/json_value.h"
#include "json/scanner.h"

namespace vorn::typing::text {

// Containers nested deeper than this are refused (message, Null, position left
// on the bracket) so that hostile text cannot exhaust the stack. Model files
// nest two levels.
inline constexpr std::size_t kMaxNestingDepth = 512;

// Which keys an object reads with their "\u" escapes decoded into UTF-8
// (see scanner.h): none, as parse reads them, its own, or those of the
// object that is the value of its member `member`. A decoded escape that is
// half a surrogate pair throws LoneSurrogateError.
struct KeyDecoding {
    bool own = false;
    const std::string_view* member = nullptr;
};

class LoneSurrogateError : public std::runtime_error {
  public:
    // `escape` is the "\u" and its four hex digits, as written.
    explicit LoneSurrogateError(std::string_view escape);
    const std::string& escape() const noexcept { return escape_; }

  private:
    std::string escape_;
};

// `depth` counts the containers already open around the value; callers start
// at 0, the productions pass it on, with `keys` to the object they read.
JsonValue parse_value(std::string_view text, std::size_t& pos, std::size_t depth = 0,
                      KeyDecoding keys = {});
JsonValue parse_object(std::string_view text, std::size_t& pos, std::size_t depth = 0,
                       KeyDecoding keys = {});
JsonValue parse_array(std::string_view text, std::size_t& pos, std::size_t depth = 0);

JsonValue parse_string(std::string_view text, std::size_t& pos,
                       UnicodeEscapes unicode = UnicodeEscapes::keep);
JsonValue parse_number(std::string_view text, std::size_t& pos);
JsonValue parse_boolean(std::string_view text, std::size_t& pos);
JsonValue parse_null(std::string_view text, std::size_t& pos);

// Whitespace is what isspace reports in the "C" locale, whatever the locale.
void skip_whitespace(std::string_view text, std::size_t& pos);

// The same productions on a std::string, for callers that hold one (and take
// their address with that type).
inline JsonValue parse_value(const std::string& text, std::size_t& pos, std::size_t depth = 0) {
    return parse_value(std::string_view(text), pos, depth);
}
inline JsonValue parse_object(const std::string& text, std::size_t& pos, std::size_t depth = 0) {
    return parse_object(std::string_view(text), pos, depth);
}
inline JsonValue parse_array(const std::string& text, std::size_t& pos, std::size_t depth = 0) {
    return parse_array(std::string_view(text), pos, depth);
}
inline JsonValue parse_string(const std::string& text, std::size_t& pos) {
    return parse_string(std::string_view(text), pos);
}
inline JsonValue parse_number(const std::string& text, std::size_t& pos) {
    return parse_number(std::string_view(text), pos);
}
inline JsonValue parse_boolean(const std::string& text, std::size_t& pos) {
    return parse_boolean(std::string_view(text), pos);
}
inline JsonValue parse_null(const std::string& text, std::size_t& pos) {
    return parse_null(std::string_view(text), pos);
}

}  // namespace vorn::typing::text
