#include <gtest/gtest.h>

#include <string>

#include "json/number_text.h"
#include "parse_run.h"

namespace vorn::typing::text {
namespace {

using test::expect_rows;
using test::nul_line;
using test::thrown_by;

TEST(ParseNumber, IntegersStopOnTheDelimiter) {
    expect_rows(parse_number, {
                                  {"3,", "3", 1, ""},
                                  {"42 ", "42", 2, ""},
                                  {"-0,", "0", 2, ""},
                                  {"007]", "7", 3, ""},
                                  {"12}", "12", 2, ""},
                                  {"1\v", "1", 1, ""},
                                  {"12-3,", "12", 4, ""},
                                  {"2147483647,", "2147483647", 10, ""},
                                  {"-2147483648,", "-2147483648", 11, ""},
                              });
}

TEST(ParseNumber, DecimalPointOrExponentMakesAFloat) {
    expect_rows(parse_number, {
                                  {"3.0,", "3.000000", 3, ""},
                                  {"5.,", "5.000000", 2, ""},
                                  {"-.5,", "-0.500000", 3, ""},
                                  {"1.2.3,", "1.200000", 5, ""},
                                  {"1e2,", "100.000000", 3, ""},
                                  {"1E-2 ", "0.010000", 4, ""},
                                  {"25e0,", "25.000000", 4, ""},
                                  {"2.5e1]", "25.000000", 5, ""},
                                  {"-3e-0}", "-3.000000", 5, ""},
                                  {"1e400,", "inf", 5, ""},
                              });
}

TEST(ParseNumber, FaultsGiveNullAndLeaveThePositionAfterTheCulprit) {
    expect_rows(
        parse_number,
        {
            {"12a,", "null", 3, "ERROR: Number: unexpected character 'a'\n"},
            {"42", "null", 3, nul_line("ERROR: Number: unexpected character '")},
            {"5e+2,", "null", 3, "ERROR: Number: Expected a number for exponent, found '+'\n"},
            {"1e5", "null", 4, nul_line("ERROR: Number: Expected a number for exponent, found '")},
        });
}

TEST(ParseNumber, ConversionFailuresThrow) {
    const std::string zeros(400, '0');
    const std::pair<std::string, std::string> rows[] = {
        {"-,", "invalid_argument: invalid stol argument"},
        {"--5,", "invalid_argument: invalid stol argument"},
        {"-e1,", "invalid_argument: invalid stol argument"},
        {"1e,", "invalid_argument: invalid stol argument"},
        {"1.5e-,", "invalid_argument: invalid stol argument"},
        {"-.,", "invalid_argument: invalid stod argument"},
        {"2147483648,", "out_of_range: stol argument out of range"},
        {"-2147483649,", "out_of_range: stol argument out of range"},
        {"99999999999999999999999,", "out_of_range: stol argument out of range"},
        {"1e2147483648,", "out_of_range: stol argument out of range"},
        {"1" + zeros + ".0,", "out_of_range: stod argument out of range"},
        {"0." + zeros + "1,", "out_of_range: stod argument out of range"},
    };
    for (const auto& [text, expected] : rows) {
        EXPECT_EQ(thrown_by(parse_number, text), expected) << text;
    }
}

TEST(NumberText, ConversionsOnTheirOwn) {
    EXPECT_EQ(text_to_int32("-17xyz"), -17);
    EXPECT_EQ(text_to_double("2.5."), 2.5);
    EXPECT_THROW(text_to_int32(""), std::invalid_argument);
    EXPECT_THROW(text_to_double(""), std::invalid_argument);
}

}  // namespace
}  // namespace vorn::typing::text
