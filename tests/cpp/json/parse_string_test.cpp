#include <gtest/gtest.h>

#include <string>

#include "parse_run.h"

namespace vorn::typing::text {
namespace {

using test::expect_rows;
using test::nul_line;

// Results are shown through the serializer, which escapes the seven characters
// again: "\\/" comes back as a bare solidus, "\\x" as an escaped backslash.
TEST(ParseString, ContentAndEscapes) {
    using namespace std::string_literals;
    expect_rows(parse_string,
                {
                    {R"("abc",)", R"("abc")", 5, ""},
                    {R"("\"\/\b\f\n\r\t\\")", R"("\"/\b\f\n\r\t\\")", 18, ""},
                    {R"("\u00e9\uABCD")", R"("\\u00e9\\uABCD")", 14, ""},
                    {R"("a\xb")", R"("a\\b")", 6, ""},
                    {"\"\x01\t\xE4\xB8\xAD\0/\""s, "\"\x01\\t\xE4\xB8\xAD\0/\""s, 9, ""},
                });
}

TEST(ParseString, NonHexInUnicodeEscapeGivesAnEmptyString) {
    expect_rows(parse_string,
                {
                    {R"("ab\u12G4")", R"("")", 4,
                     "ERROR: String: Expected hex character in unicode escape, found 'G'\n"},
                    {R"("\u12)", R"("")", 2,
                     nul_line("ERROR: String: Expected hex character in unicode escape, found '")},
                });
}

TEST(ParseString, UnterminatedEndsWithTheText) {
    const std::string message = nul_line("ERROR: String: Unterminated string, found '");
    expect_rows(parse_string, {
                                  {R"("abc)", R"("abc")", 4, message},
                                  {R"("abc\)", R"("abc")", 5, message},
                              });
    expect_rows(test::value_at,
                {
                    {R"({"k" : ["v)", "{\n\"k\" : []\n}", 10,
                     message + nul_line("ERROR: Array: Expected ',' or ']', found '") +
                         nul_line("ERROR: Object: Expected comma, found '")},
                });
}

}  // namespace
}  // namespace vorn::typing::text
