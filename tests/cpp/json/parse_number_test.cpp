#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "json/number_text.h"
#include "parse_run.h"

namespace vorn::typing::text {
namespace {

using test::nul_line;
using test::run;

std::int32_t integer_of(const std::string& text, std::size_t expected_pos) {
    const auto result = run(parse_number, text);
    EXPECT_EQ(result.value.kind(), JsonKind::Integer) << text;
    EXPECT_EQ(result.pos, expected_pos) << text;
    EXPECT_EQ(result.err, "") << text;
    bool ok = false;
    return result.value.to_integer(ok);
}

double float_of(const std::string& text) {
    const auto result = run(parse_number, text);
    EXPECT_EQ(result.value.kind(), JsonKind::Float) << text;
    EXPECT_EQ(result.pos, text.size() - 1) << text;
    EXPECT_EQ(result.err, "") << text;
    bool ok = false;
    return result.value.to_float(ok);
}

// The message of the conversion that `text` makes parse_number throw.
template <typename Exception>
std::string thrown_by(const std::string& text) {
    std::size_t pos = 0;
    try {
        parse_number(text, pos);
    } catch (const Exception& error) {
        return error.what();
    }
    return "nothing thrown";
}

TEST(ParseNumberInteger, StopsOnTheDelimiter) {
    EXPECT_EQ(integer_of("3,", 1), 3);
    EXPECT_EQ(integer_of("42 ", 2), 42);
    EXPECT_EQ(integer_of("-0,", 2), 0);
    EXPECT_EQ(integer_of("007]", 3), 7);
    EXPECT_EQ(integer_of("12}", 2), 12);
    EXPECT_EQ(integer_of("1\v", 1), 1);
}

TEST(ParseNumberInteger, ThirtyTwoBitEdges) {
    EXPECT_EQ(integer_of("2147483647,", 10), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(integer_of("-2147483648,", 11), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(thrown_by<std::out_of_range>("2147483648,"), "stol argument out of range");
    EXPECT_EQ(thrown_by<std::out_of_range>("-2147483649,"), "stol argument out of range");
    EXPECT_EQ(thrown_by<std::out_of_range>("99999999999999999999999,"),
              "stol argument out of range");
}

TEST(ParseNumberInteger, LongestValidPrefixOfTheMantissa) {
    EXPECT_EQ(integer_of("12-3,", 4), 12);
    EXPECT_EQ(thrown_by<std::invalid_argument>("-,"), "invalid stol argument");
    EXPECT_EQ(thrown_by<std::invalid_argument>("--5,"), "invalid stol argument");
}

TEST(ParseNumberFloat, DecimalPoint) {
    EXPECT_EQ(float_of("3.0,"), 3.0);
    EXPECT_EQ(float_of("5.,"), 5.0);
    EXPECT_EQ(float_of("-.5,"), -0.5);
    EXPECT_EQ(float_of("1.2.3,"), 1.2);
    EXPECT_EQ(thrown_by<std::invalid_argument>("-.,"), "invalid stod argument");
}

TEST(ParseNumberFloat, ExponentMakesAFloat) {
    EXPECT_EQ(float_of("1e2,"), 100.0);
    EXPECT_EQ(float_of("1E-2 "), 0.01);
    EXPECT_EQ(float_of("25e0,"), 25.0);
    EXPECT_EQ(float_of("2.5e1]"), 25.0);
    EXPECT_EQ(float_of("-3e-0}"), -3.0);
    EXPECT_TRUE(std::isinf(float_of("1e400,")));
}

TEST(ParseNumberFloat, ExponentConversionFailures) {
    EXPECT_EQ(thrown_by<std::invalid_argument>("1e,"), "invalid stol argument");
    EXPECT_EQ(thrown_by<std::invalid_argument>("1.5e-,"), "invalid stol argument");
    EXPECT_EQ(thrown_by<std::out_of_range>("1e2147483648,"), "stol argument out of range");
    EXPECT_EQ(thrown_by<std::invalid_argument>("-e1,"), "invalid stol argument");
}

TEST(ParseNumberFloat, MantissaOutOfDoubleRange) {
    const std::string zeros(400, '0');
    EXPECT_EQ(thrown_by<std::out_of_range>("1" + zeros + ".0,"), "stod argument out of range");
    EXPECT_EQ(thrown_by<std::out_of_range>("0." + zeros + "1,"), "stod argument out of range");
}

TEST(ParseNumberFault, UnexpectedCharacter) {
    const auto result = run(parse_number, "12a,");
    EXPECT_EQ(result.value.kind(), JsonKind::Null);
    EXPECT_EQ(result.pos, 3U);
    EXPECT_EQ(result.err, "ERROR: Number: unexpected character 'a'\n");
}

TEST(ParseNumberFault, EndOfTextIsNotADelimiter) {
    const auto result = run(parse_number, "42");
    EXPECT_EQ(result.value.kind(), JsonKind::Null);
    EXPECT_EQ(result.pos, 3U);
    EXPECT_EQ(result.err, nul_line("ERROR: Number: unexpected character '"));
}

TEST(ParseNumberFault, ExponentFollowedByNonDelimiter) {
    auto result = run(parse_number, "5e+2,");
    EXPECT_EQ(result.value.kind(), JsonKind::Null);
    EXPECT_EQ(result.pos, 3U);
    EXPECT_EQ(result.err, "ERROR: Number: Expected a number for exponent, found '+'\n");

    result = run(parse_number, "1e5");
    EXPECT_EQ(result.pos, 4U);
    EXPECT_EQ(result.err, nul_line("ERROR: Number: Expected a number for exponent, found '"));
}

TEST(NumberText, ConversionsOnTheirOwn) {
    EXPECT_EQ(text_to_int32("-17xyz"), -17);
    EXPECT_EQ(text_to_double("2.5."), 2.5);
    EXPECT_THROW(text_to_int32(""), std::invalid_argument);
    EXPECT_THROW(text_to_double(""), std::invalid_argument);
}

}  // namespace
}  // namespace vorn::typing::text
