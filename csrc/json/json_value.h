// JsonValue: one JSON value of any kind, owning its whole subtree. It is the
// in-memory form of the model file; access is lenient and never fails on a
// wrong kind (keyed and indexed access convert, reads report through a flag).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "json/json_kind.h"

namespace vorn::typing::text {

class JsonValue {
  public:
    // std::map compares std::string keys as unsigned bytes, which is the key
    // order the model file is written in. A deque keeps element references
    // valid while an array grows at the end.
    using Object = std::map<std::string, JsonValue>;
    using Array = std::deque<JsonValue>;

    JsonValue() noexcept = default;
    explicit JsonValue(std::string text);
    // Without this, a string literal would pick the bool constructor.
    explicit JsonValue(const char* text);
    explicit JsonValue(double number) noexcept;
    explicit JsonValue(std::int32_t number) noexcept;
    explicit JsonValue(bool flag) noexcept;

    // A value of the given kind with its empty or zero payload.
    static JsonValue make(JsonKind kind);

    // Copies are deep; a moved-from value is left Null.
    JsonValue(const JsonValue& other);
    JsonValue& operator=(const JsonValue& other);
    // Moving a variant of pointers and scalars cannot throw.
    JsonValue(JsonValue&& other) noexcept;             // NOLINT(bugprone-exception-escape)
    JsonValue& operator=(JsonValue&& other) noexcept;  // NOLINT(bugprone-exception-escape)
    ~JsonValue();

    JsonKind kind() const noexcept;

    // Each read gives the payload with ok = true when the kind matches exactly
    // (no conversion between Integer and Float), otherwise a zero value and
    // ok = false. to_string returns the content escaped.
    std::int32_t to_integer(bool& ok) const noexcept;
    double to_float(bool& ok) const noexcept;
    std::string to_string(bool& ok) const;

    // The members of an Object in ascending key order; empty for other kinds.
    const Object& members() const noexcept;

    // Replace the payload (whatever kind it was) with a number.
    void set_float(double number);
    void set_integer(std::int32_t number);

    // Keyed access: a value that is not an Object silently becomes an empty one,
    // and a missing key is inserted as Null.
    JsonValue& member(const std::string& key);
    // The whole map, after the same conversion as member(); lets a caller move
    // subtrees out or insert many keys with a hint.
    Object& object_items();
    // Indexed access: a value that is not an Array silently becomes an empty one,
    // which is padded with Null up to the index.
    JsonValue& element(std::uint32_t index);

    // The fixed text layout of our JSON files: depth is the nesting level of this
    // value (the top-level call passes 1), indent the unit repeated per level.
    std::string serialize(int depth, const std::string& indent) const;
    // The same text appended to `out`.
    void serialize_to(std::string& out, int depth, std::string_view indent) const;

    // Reads one value from the start of the text; what follows it is ignored.
    // Malformed text gives messages on standard error and substitute values;
    // only number conversion throws (std::invalid_argument, std::out_of_range).
    static JsonValue parse(std::string_view text);
    // The same, except that the keys of the object that is the value of the
    // root object's member `member` are read with their "\u" escapes decoded
    // into UTF-8 (a surrogate pair into one character), for a caller whose
    // keys there are text; an escape that is half a pair throws
    // LoneSurrogateError (json_parser.h) before anything is returned.
    static JsonValue parse_decoding_keys_of(std::string_view text, std::string_view member);

  private:
    // The alternatives follow the order of JsonKind, so index() is the kind.
    // Containers sit behind pointers so that moves are cheap and the map can be
    // declared over the still incomplete JsonValue.
    using Payload = std::variant<std::monostate, std::unique_ptr<Object>, std::unique_ptr<Array>,
                                 std::unique_ptr<std::string>, double, std::int32_t, bool>;

    static Payload clone(const Payload& payload);

    Payload payload_;
};

}  // namespace vorn::typing::text
