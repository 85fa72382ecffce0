// The strict reader against the parser: wherever the reader accepts a text,
// parse must read the same tree from it without a message and without
// throwing; wherever parse would speak or throw, the reader must give up.

#include "json/strict_reader.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "parse_run.h"
#include "strict_tree.h"

namespace vorn::typing::text {
namespace {

using namespace std::string_literals;

using test::read_strictly;

struct Parsed {
    std::string shown;
    std::string err;
    std::string thrown;
};

Parsed parse_capturing(const std::string& text) {
    Parsed parsed;
    testing::internal::CaptureStderr();
    try {
        parsed.shown = test::shown(JsonValue::parse(text));
    } catch (const std::invalid_argument& error) {
        parsed.thrown = error.what();
    } catch (const std::out_of_range& error) {
        parsed.thrown = error.what();
    }
    parsed.err = testing::internal::GetCapturedStderr();
    return parsed;
}

// Whether the reader accepts the text; where it does, parse must agree.
bool accepted(const std::string& text) {
    const std::optional<JsonValue> strict = read_strictly(text);
    const Parsed parsed = parse_capturing(text);
    if (strict) {
        EXPECT_EQ(parsed.thrown, "") << text;
        EXPECT_EQ(parsed.err, "") << text;
        EXPECT_EQ(test::shown(*strict), parsed.shown) << text;
    }
    return strict.has_value();
}

TEST(StrictReader, ReadsWhatParseReadsSilently) {
    const std::vector<std::string> texts = {
        "{\n  \"_b\" : 0.750000,\n  \"_doc_count\" : 3,\n  \"_doc_token_frequency\" : {\n"
        "    \"a\" : 2,\n    \"b\" : 1\n  },\n  \"_k1\" : 1.200000\n}",
        R"({"_doc_token_frequency":{"a":2,"b":1},"_b":0.75})",
        "{}",
        "{ }",
        " \t\n\v\f\r{ \v\"a\"\f:\r1\t,\n\"b\" : {\r\n} }",
        R"({"a": {"b": {"c": {}}}})",
        R"({"a": 1, "a": 2, "b": {"x": 1}, "b": 3, "c": 4, "c": {"y": -1}})",
        // Escapes in keys, resolved as parse_string resolves them; keys that
        // resolve alike are one key.
        R"({"q\"uote": 1, "back\\slash": 2, "\/": 3, "/": 4, "\b\f\n\r\t": 5})",
        R"({"\u00e9\uABCD": 1, "\x": 2, "\\x": 3, "a\qb": 4})",
        "{\"nul\0key\": 1, \"\xe4\xb8\xad\xff\": 2, \"\x01\x7f\": 3, \"\": 4}"s,
        // What follows the object is never read.
        "{} {",
        "{\"a\": 1}x",
        "{\"a\": 1}}",
        "{}\0tail"s,
        // Numbers in every form parse reads without a word.
        R"({"a": -0, "b": 007, "c": 2147483647, "d": -2147483648, "e": 12-3, "f": 1-})",
        R"({"a": 1.5, "b": 5., "c": -.5, "d": 1.2.3, "e": 0.000000, "f": -1.500000})",
        R"({"a": 1e2, "b": 1E-2, "c": 25e0, "d": 2.5e1, "e": -3e-0, "f": 1e400, "g": 1e-400})",
        "{\"a\": 1\v,\"b\": 2\f}",
    };
    for (const std::string& text : texts) {
        EXPECT_TRUE(accepted(text)) << text;
    }
}

TEST(StrictReader, GivesUpWhereParseSpeaksOrThrows) {
    const std::vector<std::string> texts = {
        "",
        "   ",
        "{",
        "{\"a\": 1",
        "{\"a\": 1,}",
        "{,}",
        "{\"a\" 1}",
        "{\"a\": 1 \"b\": 2}",
        "{1: 2}",
        "{\"a\": }",
        "{\"a\": 1]",
        "{\"ab\\u12G4\": 1}",
        "{\"abc",
        "{\"abc\\",
        "{\"a\": 42",
        "{\"a\": 12a}",
        "{\"a\": 5e+2}",
        "{\"a\": 1e}",
        "{\"a\": -}",
        "{\"a\": --5}",
        "{\"a\": -.}",
        "{\"a\": 2147483648}",
        "{\"a\": -2147483649}",
        "{\"a\": 1e2147483648}",
        "{\"a\": 1" + std::string(400, '0') + ".0}",
        "{\"a\": 1\0}"s,
        "[1, 2]",
        "42 ",
        "\xA0{}",
    };
    for (const std::string& text : texts) {
        EXPECT_FALSE(accepted(text)) << text;
        const Parsed parsed = parse_capturing(text);
        EXPECT_TRUE(!parsed.err.empty() || !parsed.thrown.empty() || parsed.shown != "{\n\n}")
            << text;
    }
}

// Values other than numbers and objects are left to parse, even where it
// reads them silently.
TEST(StrictReader, GivesUpOnValuesItDoesNotRead) {
    for (const char* text : {R"({"a": "s"})", R"({"a": [1]})", R"({"a": true})", R"({"a": null})",
                             R"({"a": {"b": "s"}})"}) {
        EXPECT_FALSE(accepted(text)) << text;
        EXPECT_EQ(parse_capturing(text).err, "") << text;
    }
}

TEST(StrictReader, IntegersOnlyWhereParseReadsAnInteger) {
    const auto integer = [](const std::string& value) -> std::optional<std::int32_t> {
        const std::string text = "{\"k\": " + value;
        StrictReader reader(text);
        std::int32_t number = 0;
        if (!reader.enter_object() || reader.next_member() != StrictReader::Next::member ||
            !reader.read_integer(number)) {
            return std::nullopt;
        }
        return number;
    };
    EXPECT_EQ(integer("5}"), 5);
    EXPECT_EQ(integer("-0,"), 0);
    EXPECT_EQ(integer("0012 "), 12);
    EXPECT_EQ(integer("-2147483648}"), -2147483647 - 1);
    // Floats, and texts whose reading needs the general number rules.
    for (const char* value : {"5.0}", "5.}", "5e0}", "1E2}", "12-3}", "5", "5x", "-}",
                              "2147483648}", "\"5\"}", "+5}"}) {
        EXPECT_EQ(integer(value), std::nullopt) << value;
    }
}

TEST(StrictReader, NestingStopsWhereParseStops) {
    const auto nested = [](std::size_t levels) {
        std::string text;
        for (std::size_t i = 0; i < levels; ++i) {
            text += "{\"k\":";
        }
        text += "1";
        text.append(levels, '}');
        return text;
    };
    EXPECT_TRUE(accepted(nested(kMaxNestingDepth)));
    EXPECT_FALSE(accepted(nested(kMaxNestingDepth + 1)));
    EXPECT_NE(parse_capturing(nested(kMaxNestingDepth + 1)).err, "");
}

// Random edits of a model-like text: wherever the reader still accepts one,
// parse agrees; and the reader accepts a good share of them.
TEST(StrictReader, AgreesWithParseOnEditedTexts) {
    const std::string base =
        "{\n  \"_b\" : 0.750000,\n  \"_doc_count\" : 12,\n  \"_doc_length_average\" : 2.5e1,\n"
        "  \"_doc_token_frequency\" : {\n    \"\" : 1,\n    \"a\\\"b\" : -2,\n    \"ab\" : 3,\n"
        "    \"\\u0041\\/\" : 2147483647,\n    \"\xe4\xb8\xad\" : 007\n  },\n"
        "  \"_k1\" : 1.2\n}";
    const std::string alphabet = "{}[]:,\"\\ \n-.eE0123456789ub\x01\xe4";
    std::mt19937 random(5);
    int agreed = 0;
    for (int i = 0; i < 4000; ++i) {
        std::string text = base;
        const int edits = 1 + static_cast<int>(random() % 3);
        for (int edit = 0; edit < edits && !text.empty(); ++edit) {
            const std::size_t at = random() % text.size();
            switch (random() % 3) {
                case 0:
                    text.erase(at, 1 + random() % 3);
                    break;
                case 1:
                    text.insert(at, 1, alphabet[random() % alphabet.size()]);
                    break;
                default:
                    text.insert(at, text.substr(random() % text.size(), random() % 12));
                    break;
            }
        }
        if (accepted(text)) {
            ++agreed;
        }
        if (HasFailure()) {
            FAIL() << "edited text: " << text;
        }
    }
    EXPECT_GT(agreed, 400);
}

}  // namespace
}  // namespace vorn::typing::text
