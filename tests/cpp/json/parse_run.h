// Runs parser productions on texts and compares what they leave behind: the
// value, where the position ended and the exact bytes written to standard error.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "json/json_parser.h"
#include "json/json_value.h"

namespace vorn::typing::text::test {

using Production = JsonValue (*)(const std::string&, std::size_t&);

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
inline JsonValue whole(const std::string& text, std::size_t& /*pos*/) {
    return JsonValue::parse(text);
}

struct ParseRun {
    JsonValue value;
    std::size_t pos = 0;
    std::string err;
};

inline ParseRun run(Production production, const std::string& text) {
    ParseRun result;
    testing::internal::CaptureStderr();
    result.value = production(text, result.pos);
    result.err = testing::internal::GetCapturedStderr();
    return result;
}

// A compact picture of a tree: the serializer's layout at depth 0.
inline std::string shown(const JsonValue& value) { return value.serialize(0, ""); }

// A standard-error line whose culprit is the NUL read at the end of the text.
inline std::string nul_line(const std::string& message) {
    return message + std::string(1, '\0') + "'\n";
}

struct Row {
    std::string text;
    std::string shown;
    std::size_t pos;
    std::string err;
};

inline void expect_rows(Production production, const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const ParseRun result = run(production, row.text);
        EXPECT_EQ(shown(result.value), row.shown);
        EXPECT_EQ(result.pos, row.pos);
        EXPECT_EQ(result.err, row.err);
    }
}

// "invalid_argument: <what>" or "out_of_range: <what>" for the conversion
// failure that parsing `text` from the start throws.
inline std::string thrown_by(Production production, const std::string& text) {
    try {
        std::size_t pos = 0;
        production(text, pos);
    } catch (const std::invalid_argument& error) {
        return std::string("invalid_argument: ") + error.what();
    } catch (const std::out_of_range& error) {
        return std::string("out_of_range: ") + error.what();
    }
    return "nothing thrown";
}

}  // namespace vorn::typing::text::test
