#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

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

JsonValue decoded_at(const std::string& text, std::size_t& pos) {
    return parse_string(text, pos, UnicodeEscapes::decode);
}

// Decoded "\u" escapes become UTF-8 in the same left-to-right pass as the
// other escapes: an escaped backslash before "u" starts no escape.
TEST(ParseString, DecodedUnicodeEscapesAreUtf8) {
    using namespace std::string_literals;
    expect_rows(decoded_at,
                {
                    {R"("\u0041\u00e9\u676D!")", "\"A\xC3\xA9\xE6\x9D\xAD!\"", 21, ""},
                    {R"("\uD83D\ude00")", "\"\xF0\x9F\x98\x80\"", 14, ""},
                    {R"("\\u0041")", R"("\\u0041")", 9, ""},
                    {R"("\\\u0041")", R"("\\A")", 10, ""},
                    {R"("\u0000\u005c\u0022\u007f")", "\"\0\\\\\\\"\x7f\""s, 26, ""},
                    // The second half must be an escape of four hex digits,
                    // as it must when it stands alone.
                    {R"("\ud83d\u12G4")", R"("")", 8,
                     "ERROR: String: Expected hex character in unicode escape, found 'G'\n"},
                });
}

TEST(ParseString, HalfASurrogatePairCannotBeDecoded) {
    for (const auto& [text, escape] : std::vector<std::pair<std::string, std::string>>{
             {R"("\ud83d")", R"(\ud83d)"},
             {R"("x\uDE00y")", R"(\uDE00)"},
             {R"("\ud83dx")", R"(\ud83d)"},
             {R"("\ud83d\u0041")", R"(\ud83d)"},
             {R"("\ud83d\ud83d\ude00")", R"(\ud83d)"},
             {R"("\ud83d\\ude00")", R"(\ud83d)"},
         }) {
        std::size_t pos = 0;
        try {
            parse_string(text, pos, UnicodeEscapes::decode);
            ADD_FAILURE() << text;
        } catch (const LoneSurrogateError& error) {
            EXPECT_EQ(error.escape(), escape) << text;
        }
        // Kept as written, they are six characters like any other.
        pos = 0;
        EXPECT_EQ(parse_string(text, pos).kind(), JsonKind::String);
    }
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
