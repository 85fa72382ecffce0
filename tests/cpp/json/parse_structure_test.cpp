#include <gtest/gtest.h>

#include <string>

#include "parse_run.h"

namespace vorn::typing::text {
namespace {

using test::array_at;
using test::nul_line;
using test::object_at;
using test::run;
using test::shown;
using test::value_at;

test::ParseRun parse_whole(const std::string& text) {
    return run([](const std::string& t, std::size_t&) { return JsonValue::parse(t); }, text);
}

TEST(ParseValue, UnknownStartingCharacterLeavesThePosition) {
    const auto result = run(value_at, "  x");
    EXPECT_EQ(result.value.kind(), JsonKind::Null);
    EXPECT_EQ(result.pos, 2U);
    EXPECT_EQ(result.err, "ERROR: Parse: Unknown starting character 'x'\n");
}

TEST(ParseValue, EmptyOrBlankTextReadsNul) {
    for (const char* text : {"", " \t\n\v\f\r"}) {
        const auto result = parse_whole(text);
        EXPECT_EQ(result.value.kind(), JsonKind::Null);
        EXPECT_EQ(result.err, nul_line("ERROR: Parse: Unknown starting character '"));
    }
}

TEST(ParseValue, HighBytesAreNotWhitespace) {
    EXPECT_EQ(parse_whole("\xA0 1").err, "ERROR: Parse: Unknown starting character '\xA0'\n");
}

TEST(ParseValue, BareNumberAtTheEndIsNull) {
    auto result = parse_whole("42");
    EXPECT_EQ(result.value.kind(), JsonKind::Null);
    EXPECT_EQ(result.err, nul_line("ERROR: Number: unexpected character '"));
    result = parse_whole("42 ");
    EXPECT_EQ(shown(result.value), "42");
}

TEST(ParseValue, TextAfterTheFirstValueIsIgnored) {
    const auto result = parse_whole("{\"a\" : 1} {\"b\" : 2} ]]");
    EXPECT_EQ(shown(result.value), "{\n\"a\" : 1\n}");
    EXPECT_EQ(result.err, "");
}

TEST(ParseLiteral, TrueFalseNull) {
    auto result = run(parse_boolean, "trueX");
    EXPECT_EQ(shown(result.value), "true");
    EXPECT_EQ(result.pos, 4U);
    result = run(parse_boolean, "false,");
    EXPECT_EQ(shown(result.value), "false");
    EXPECT_EQ(result.pos, 5U);
    result = run(parse_null, "null]");
    EXPECT_EQ(result.value.kind(), JsonKind::Null);
    EXPECT_EQ(result.pos, 4U);
    EXPECT_EQ(result.err, "");
}

TEST(ParseLiteral, MisspeltWordsShowAnExcerpt) {
    auto result = run(parse_boolean, "fals,e");
    EXPECT_EQ(result.value.kind(), JsonKind::Null);
    EXPECT_EQ(result.pos, 0U);
    EXPECT_EQ(result.err, "ERROR: Bool: Expected 'true' or 'false', found 'fals,'\n");
    result = run(parse_boolean, "tru");
    EXPECT_EQ(result.err, "ERROR: Bool: Expected 'true' or 'false', found 'tru'\n");
    result = run(parse_null, "nulL x");
    EXPECT_EQ(result.pos, 0U);
    EXPECT_EQ(result.err, "ERROR: Null: Expected 'null', found 'nulL'\n");
    result = run(parse_null, "n");
    EXPECT_EQ(result.err, "ERROR: Null: Expected 'null', found 'n'\n");
}

TEST(ParseObject, EmptyAndMembers) {
    auto result = run(object_at, "{ \n}x");
    EXPECT_EQ(shown(result.value), "{\n\n}");
    EXPECT_EQ(result.pos, 4U);
    result = run(object_at, "{ \"b\" : [1, 2.5] , \"a\":{\"c\":null}}");
    EXPECT_EQ(shown(result.value), "{\n\"a\" : {\n\"c\" : null\n},\n\"b\" : [1, 2.500000]\n}");
    EXPECT_EQ(result.err, "");
}

TEST(ParseObject, EscapedKeyStaysEscapedEscapedValueDoesNot) {
    const auto result = run(object_at, R"({"a\"b\n" : "c\"d"})");
    ASSERT_EQ(result.value.members().size(), 1U);
    const auto& [key, value] = *result.value.members().begin();
    EXPECT_EQ(key, R"(a\"b\n)");
    bool ok = false;
    EXPECT_EQ(value.to_string(ok), R"(c\"d)");
}

TEST(ParseObject, RepeatedKeyKeepsTheLastValue) {
    const auto result = run(object_at, R"({"a" : 1, "b" : 2, "a" : 3})");
    EXPECT_EQ(shown(result.value), "{\n\"a\" : 3,\n\"b\" : 2\n}");
}

TEST(ParseObject, NonStringKeysShareTheEmptyKey) {
    const auto result = run(object_at, R"({1 : 2, [true] : null, "" : 4, {} : 5})");
    EXPECT_EQ(shown(result.value), "{\n\"\" : 5\n}");
    EXPECT_EQ(result.err, "");
}

TEST(ParseObject, MissingColonKeepsEarlierMembers) {
    const auto result = run(object_at, R"({"a" : 1, "b" 2})");
    EXPECT_EQ(shown(result.value), "{\n\"a\" : 1\n}");
    EXPECT_EQ(result.pos, 14U);
    EXPECT_EQ(result.err, "Error: Object: Expected colon, found '2'\n");
}

TEST(ParseObject, MissingCommaKeepsTheLastMember) {
    const auto result = run(object_at, R"({"a" : 1 "b" : 2})");
    EXPECT_EQ(shown(result.value), "{\n\"a\" : 1\n}");
    EXPECT_EQ(result.pos, 9U);
    EXPECT_EQ(result.err, "ERROR: Object: Expected comma, found '\"'\n");
}

TEST(ParseObject, TrailingComma) {
    const auto result = run(object_at, R"({"a" : 1,})");
    EXPECT_EQ(shown(result.value), "{\n\"a\" : 1\n}");
    EXPECT_EQ(result.pos, 9U);
    EXPECT_EQ(result.err,
              "ERROR: Parse: Unknown starting character '}'\n"
              "Error: Object: Expected colon, found '}'\n");
}

TEST(ParseArray, EmptyAndElements) {
    auto result = run(array_at, "[ ]");
    EXPECT_EQ(shown(result.value), "[]");
    EXPECT_EQ(result.pos, 3U);
    result = run(array_at, "[\"s\", -1, true, null, [], {}]");
    EXPECT_EQ(shown(result.value), "[\"s\", -1, true, null, [], {\n\n}]");
    EXPECT_EQ(result.err, "");
}

TEST(ParseArray, TrailingCommaAddsANull) {
    const auto result = run(array_at, "[1,]");
    EXPECT_EQ(shown(result.value), "[1, null]");
    EXPECT_EQ(result.pos, 4U);
    EXPECT_EQ(result.err, "ERROR: Parse: Unknown starting character ']'\n");
}

TEST(ParseArray, MissingSeparatorDiscardsTheElements) {
    const auto result = run(array_at, "[1, 2 3]");
    EXPECT_EQ(shown(result.value), "[]");
    EXPECT_EQ(result.pos, 6U);
    EXPECT_EQ(result.err, "ERROR: Array: Expected ',' or ']', found '3'\n");
}

TEST(ParseArray, NumberAtTheEndLeavesThePositionPastTheText) {
    const auto result = run(array_at, "[1");
    EXPECT_EQ(shown(result.value), "[]");
    EXPECT_EQ(result.pos, 3U);
    EXPECT_EQ(result.err, nul_line("ERROR: Number: unexpected character '") +
                              nul_line("ERROR: Array: Expected ',' or ']', found '"));
}

TEST(ParseNesting, UpToTheBoundIsRead) {
    const std::string text =
        std::string(kMaxNestingDepth, '[') + std::string(kMaxNestingDepth, ']');
    const auto result = parse_whole(text);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(shown(result.value), text);
}

TEST(ParseNesting, OneLevelMoreStopsInOrder) {
    const std::string text =
        std::string(kMaxNestingDepth + 1, '[') + std::string(kMaxNestingDepth + 1, ']');
    const auto result = parse_whole(text);
    std::string expected = "ERROR: Parse: Nesting too deep, found '['\n";
    for (std::size_t level = 0; level < kMaxNestingDepth; ++level) {
        expected += "ERROR: Array: Expected ',' or ']', found '['\n";
    }
    EXPECT_EQ(result.err, expected);
    EXPECT_EQ(shown(result.value), "[]");
}

TEST(ParseNesting, MillionOpenersDoNotExhaustTheStack) {
    EXPECT_EQ(shown(parse_whole(std::string(1000000, '[')).value), "[]");
    std::string objects;
    for (int i = 0; i < 200000; ++i) {
        objects += "{\"k\":";
    }
    const auto result = parse_whole(objects);
    EXPECT_EQ(result.value.kind(), JsonKind::Object);
    EXPECT_EQ(result.err.rfind("ERROR: Parse: Nesting too deep, found '{'\n", 0), 0U);
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
    const auto result = parse_whole(model);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.value.serialize(1, "  "), model);
    const auto crlf = parse_whole("{\r\n  \"_b\" : 0.5\r\n}");
    EXPECT_EQ(crlf.value.serialize(1, "  "), "{\n  \"_b\" : 0.500000\n}");
}

}  // namespace
}  // namespace vorn::typing::text
