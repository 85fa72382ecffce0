// Runs a parser production on a text and keeps what a test checks: the value,
// where the position ended and the exact bytes written to standard error.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "json/json_parser.h"
#include "json/json_value.h"

namespace vorn::typing::text::test {

struct ParseRun {
    JsonValue value;
    std::size_t pos = 0;
    std::string err;
};

template <typename Production>
ParseRun run(Production production, const std::string& text, std::size_t start = 0) {
    ParseRun result;
    result.pos = start;
    testing::internal::CaptureStderr();
    result.value = production(text, result.pos);
    result.err = testing::internal::GetCapturedStderr();
    return result;
}

// The productions that also take a nesting depth, started at the top.
inline JsonValue value_at(const std::string& text, std::size_t& pos) {
    return parse_value(text, pos);
}
inline JsonValue object_at(const std::string& text, std::size_t& pos) {
    return parse_object(text, pos);
}
inline JsonValue array_at(const std::string& text, std::size_t& pos) {
    return parse_array(text, pos);
}

// A compact picture of a tree: the serializer's layout at depth 0.
inline std::string shown(const JsonValue& value) { return value.serialize(0, ""); }

// A standard-error line holding a NUL byte as its culprit.
inline std::string nul_line(const std::string& message) {
    return message + std::string(1, '\0') + "'\n";
}

}  // namespace vorn::typing::text::test
