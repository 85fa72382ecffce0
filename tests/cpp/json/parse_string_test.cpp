#include <gtest/gtest.h>

#include <string>

#include "parse_run.h"

namespace vorn::typing::text {
namespace {

using test::nul_line;
using test::run;

// The content of a parsed String, recovered from its escaped form.
std::string escaped_content(const JsonValue& value) {
    bool ok = false;
    std::string text = value.to_string(ok);
    EXPECT_TRUE(ok);
    return text;
}

TEST(ParseStringPlain, StopsAfterTheClosingQuote) {
    const auto result = run(parse_string, "\"abc\",");
    EXPECT_EQ(escaped_content(result.value), "abc");
    EXPECT_EQ(result.pos, 5U);
    EXPECT_EQ(result.err, "");
}

TEST(ParseStringPlain, RawBytesPassThrough) {
    const std::string body = std::string("\x01\t\xE4\xB8\xAD", 5) + std::string(1, '\0') + "/";
    const auto result = run(parse_string, "\"" + body + "\"");
    EXPECT_EQ(result.value.serialize(0, ""),
              "\"" + std::string("\x01\\t\xE4\xB8\xAD", 6) + std::string(1, '\0') + "/\"");
    EXPECT_EQ(result.err, "");
}

TEST(ParseStringEscape, KnownEscapesAreDecoded) {
    const auto result = run(parse_string, R"("\"\/\b\f\n\r\t\\")");
    // Decoded, then re-escaped by to_string: only the solidus loses its backslash.
    EXPECT_EQ(escaped_content(result.value), R"(\"/\b\f\n\r\t\\)");
    EXPECT_EQ(result.pos, 18U);
}

TEST(ParseStringEscape, UnicodeEscapeIsKeptAsWritten) {
    const auto result = run(parse_string, R"("\u00e9\uABCD")");
    EXPECT_EQ(escaped_content(result.value), R"(\\u00e9\\uABCD)");
    EXPECT_EQ(result.pos, 14U);
    EXPECT_EQ(result.err, "");
}

TEST(ParseStringEscape, UnknownEscapeKeepsOnlyTheBackslash) {
    const auto result = run(parse_string, R"("a\xb")");
    EXPECT_EQ(escaped_content(result.value), R"(a\\b)");
    EXPECT_EQ(result.pos, 6U);
}

TEST(ParseStringFault, NonHexInUnicodeEscape) {
    const auto result = run(parse_string, R"("ab\u12G4")");
    EXPECT_EQ(escaped_content(result.value), "");
    EXPECT_EQ(result.pos, 4U);
    EXPECT_EQ(result.err, "ERROR: String: Expected hex character in unicode escape, found 'G'\n");
}

TEST(ParseStringFault, UnicodeEscapeCutByTheEnd) {
    const auto result = run(parse_string, R"("\u12)");
    EXPECT_EQ(result.pos, 2U);
    EXPECT_EQ(result.err,
              nul_line("ERROR: String: Expected hex character in unicode escape, found '"));
}

TEST(ParseStringFault, UnterminatedEndsWithTheText) {
    auto result = run(parse_string, "\"abc");
    EXPECT_EQ(escaped_content(result.value), "abc");
    EXPECT_EQ(result.pos, 4U);
    EXPECT_EQ(result.err, nul_line("ERROR: String: Unterminated string, found '"));

    result = run(parse_string, "\"abc\\");
    EXPECT_EQ(escaped_content(result.value), "abc");
    EXPECT_EQ(result.pos, 5U);
    EXPECT_EQ(result.err, nul_line("ERROR: String: Unterminated string, found '"));
}

TEST(ParseStringFault, UnterminatedInsideContainers) {
    const auto result = run(test::value_at, "{\"k\" : [\"v");
    EXPECT_EQ(result.err, nul_line("ERROR: String: Unterminated string, found '") +
                              nul_line("ERROR: Array: Expected ',' or ']', found '") +
                              nul_line("ERROR: Object: Expected comma, found '"));
    EXPECT_EQ(result.value.serialize(0, ""), "{\n\"k\" : []\n}");
    EXPECT_EQ(result.pos, 10U);
}

}  // namespace
}  // namespace vorn::typing::text
