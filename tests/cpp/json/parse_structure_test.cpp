#include <gtest/gtest.h>

#include <string>

#include "parse_run.h"

namespace vorn::typing::text {
namespace {

using test::expect_rows;
using test::nul_line;
using test::run;
using test::shown;

const char* const kUnknown = "ERROR: Parse: Unknown starting character '";

TEST(ParseValue, DispatchAndUnknownStart) {
    expect_rows(test::value_at,
                {
                    {" \t\n\v\f\r true", "true", 11, ""},
                    {"  x", "null", 2, "ERROR: Parse: Unknown starting character 'x'\n"},
                    {"\xA0 1", "null", 0, std::string(kUnknown) + "\xA0'\n"},
                    {"", "null", 0, nul_line(kUnknown)},
                    {" \r\n", "null", 3, nul_line(kUnknown)},
                });
}

TEST(ParseLiteral, WordsAndExcerpts) {
    expect_rows(
        parse_boolean,
        {
            {"trueX", "true", 4, ""},
            {"false,", "false", 5, ""},
            {"fals,e", "null", 0, "ERROR: Bool: Expected 'true' or 'false', found 'fals,'\n"},
            {"tru", "null", 0, "ERROR: Bool: Expected 'true' or 'false', found 'tru'\n"},
        });
    expect_rows(parse_null,
                {
                    {"null]", "null", 4, ""},
                    {"nulL x", "null", 0, "ERROR: Null: Expected 'null', found 'nulL'\n"},
                    {"n", "null", 0, "ERROR: Null: Expected 'null', found 'n'\n"},
                });
}

TEST(ParseObject, MembersKeysAndFaults) {
    expect_rows(test::object_at,
                {
                    {"{ \n}x", "{\n\n}", 4, ""},
                    {R"({ "b" : [1, 2.5] , "a":{"c":null}})",
                     "{\n\"a\" : {\n\"c\" : null\n},\n\"b\" : [1, 2.500000]\n}", 34, ""},
                    // The last value read under a key wins; non-string keys all mean "".
                    {R"({"a" : 1, "b" : 2, "a" : 3})", "{\n\"a\" : 3,\n\"b\" : 2\n}", 27, ""},
                    {R"({1 : 2, [true] : null, "" : 4, {} : 5})", "{\n\"\" : 5\n}", 38, ""},
                    {R"({"a" : 1, "b" 2})", "{\n\"a\" : 1\n}", 14,
                     "Error: Object: Expected colon, found '2'\n"},
                    {R"({"a" : 1 "b" : 2})", "{\n\"a\" : 1\n}", 9,
                     "ERROR: Object: Expected comma, found '\"'\n"},
                    {R"({"a" : 1,})", "{\n\"a\" : 1\n}", 9,
                     "ERROR: Parse: Unknown starting character '}'\nError: Object: Expected colon, "
                     "found '}'\n"},
                });
}

TEST(ParseObject, EscapedKeyStaysEscapedEscapedValueDoesNot) {
    const auto result = run(test::object_at, R"({"a\"b\n" : "c\"d"})");
    ASSERT_EQ(result.value.members().size(), 1U);
    const auto& [key, value] = *result.value.members().begin();
    EXPECT_EQ(key, R"(a\"b\n)");
    bool ok = false;
    EXPECT_EQ(value.to_string(ok), R"(c\"d)");  // held as c"d, escaped on the way out
}

TEST(ParseArray, ElementsAndFaults) {
    expect_rows(
        test::array_at,
        {
            {"[ ]", "[]", 3, ""},
            {R"(["s", -1, true, null, [], {}])", "[\"s\", -1, true, null, [], {\n\n}]", 29, ""},
            {"[1,]", "[1, null]", 4, "ERROR: Parse: Unknown starting character ']'\n"},
            {"[1, 2 3]", "[]", 6, "ERROR: Array: Expected ',' or ']', found '3'\n"},
            // The number's message leaves the position past the end, which reads as NUL.
            {"[1", "[]", 3,
             nul_line("ERROR: Number: unexpected character '") +
                 nul_line("ERROR: Array: Expected ',' or ']', found '")},
        });
}

TEST(ParseWhole, FirstValueOnly) {
    expect_rows(test::whole,
                {
                    {R"({"a" : 1} {"b" : 2} ]])", "{\n\"a\" : 1\n}", 0, ""},
                    {"42", "null", 0, nul_line("ERROR: Number: unexpected character '")},
                    {"42 ", "42", 0, ""},
                });
}

// One member's object has its keys decoded; root keys, deeper objects and
// string values keep parse's rules, and so do the messages.
JsonValue decoding_t(const std::string& text, std::size_t& /*pos*/) {
    return JsonValue::parse_decoding_keys_of(text, "t");
}

TEST(ParseWhole, DecodingTheKeysOfOneMember) {
    expect_rows(
        decoding_t,
        {
            {R"({"\u0041" : {"\u0042" : 1}, "t" : {"\u0043" : {"\u0044" : 2}, "\\u0045" : [{"\u0046" : 3}]}, "s" : "\ud83d"})",
             "{\n\"\\\\u0041\" : {\n\"\\\\u0042\" : 1\n},\n\"s\" : \"\\\\ud83d\",\n\"t\" : "
             "{\n\"C\" : "
             "{\n\"\\\\u0044\" : 2\n},\n\"\\\\u0045\" : [{\n\"\\\\u0046\" : 3\n}]\n}\n}",
             0, ""},
            // Repeated, each one is decoded; the last one stays.
            {R"({"t" : {"\u00e9" : 1}, "t" : {"\u0078" : 2}})", "{\n\"t\" : {\n\"x\" : 2\n}\n}", 0,
             ""},
        });
    // Whatever parse says of a faulty text, this says too.
    for (const std::string text :
         {R"({"t" : {"\u0041" : 1,}})", R"({"t" : {"\u0041" 1}})", R"({"t" : {"\u00G1" : 1}})",
          R"({"t" : {"\ud83d\u12G4" : 1}})", R"({"t" : {"a" : [1 2]}, "u" : tru})", "{\"t\" : {"}) {
        SCOPED_TRACE(text);
        const test::ParseRun mine = run(decoding_t, text);
        const test::ParseRun theirs = run(test::whole, text);
        EXPECT_EQ(mine.err, theirs.err);
        EXPECT_EQ(shown(mine.value).find("\\\\u00"), std::string::npos);
    }
    std::size_t pos = 0;
    EXPECT_THROW(decoding_t(R"({"t" : {"a" : 1, "\udc00" : 1}})", pos), LoneSurrogateError);
}

TEST(ParseWhole, ModelFileReadsBackToTheSameText) {
    const std::string model =
        "{\n"
        "  \"_b\" : 0.750000,\n"
        "  \"_doc_count\" : 3,\n"
        "  \"_doc_length_average\" : 2.500000,\n"
        "  \"_doc_token_frequency\" : {\n"
        "    \"\\\"q\" : 1,\n"
        "    \"\xE4\xB8\xAD\" : 2\n"
        "  },\n"
        "  \"_k1\" : 1.200000\n"
        "}";
    const auto result = run(test::whole, model);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.value.serialize(1, "  "), model);
    const auto crlf = run(test::whole, "{\r\n  \"_b\" : 0.5\r\n}");
    EXPECT_EQ(crlf.value.serialize(1, "  "), "{\n  \"_b\" : 0.500000\n}");
}

TEST(ParseNesting, UpToTheBoundIsRead) {
    const std::string text =
        std::string(kMaxNestingDepth, '[') + std::string(kMaxNestingDepth, ']');
    expect_rows(test::value_at, {{text, text, text.size(), ""}});
}

TEST(ParseNesting, OneLevelMoreStopsInOrder) {
    const std::size_t levels = kMaxNestingDepth + 1;
    std::string expected = "ERROR: Parse: Nesting too deep, found '['\n";
    for (std::size_t level = 1; level < levels; ++level) {
        expected += "ERROR: Array: Expected ',' or ']', found '['\n";
    }
    expect_rows(test::value_at, {{std::string(levels, '[') + std::string(levels, ']'), "[]",
                                  levels - 1, expected}});
}

TEST(ParseNesting, MillionOpenersDoNotExhaustTheStack) {
    EXPECT_EQ(shown(run(test::whole, std::string(1000000, '[')).value), "[]");
    std::string objects;
    for (int i = 0; i < 200000; ++i) {
        objects += "{\"k\":";
    }
    const auto result = run(test::whole, objects);
    EXPECT_EQ(result.value.kind(), JsonKind::Object);
    EXPECT_EQ(result.err.rfind("ERROR: Parse: Nesting too deep, found '{'\n", 0), 0U);
}

}  // namespace
}  // namespace vorn::typing::text
