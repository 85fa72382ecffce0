#pragma once
// The tree that the strict reader sees in a text, built as parse builds it
// (keys escaped again), or nothing where the reader gives up. Shared by the
// unit tests and the JSON fuzzer, which hold it against parse's tree.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "json/escape.h"
#include "json/json_value.h"
#include "json/strict_reader.h"

namespace vorn::typing::text::test {

inline bool read_object(StrictReader& reader, JsonValue& object) {
    object = JsonValue::make(JsonKind::Object);
    return reader.read_object([&reader, &object] {
        const std::string key = escape_string(reader.key());
        JsonValue value;
        const bool read =
            reader.peek() == '{' ? read_object(reader, value) : reader.read_number(value);
        if (read) {
            object.member(key) = std::move(value);
        }
        return read;
    });
}

inline std::optional<JsonValue> read_strictly(std::string_view text) {
    StrictReader reader(text);
    JsonValue root;
    if (!read_object(reader, root)) {
        return std::nullopt;
    }
    return root;
}

}  // namespace vorn::typing::text::test
