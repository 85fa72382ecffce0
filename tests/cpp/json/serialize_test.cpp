#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "json/json_value.h"

namespace vorn::typing::text {
namespace {

JsonValue model_root() {
    JsonValue root = JsonValue::make(JsonKind::Object);
    root.member("_k1").set_float(1.2);
    root.member("_doc_token_frequency") = JsonValue::make(JsonKind::Object);
    root.member("_doc_length_average").set_float(2.5);
    root.member("_doc_count").set_integer(3);
    root.member("_b").set_float(0.75);
    return root;
}

TEST(SerializeObject, ModelLayoutAtDepthOne) {
    EXPECT_EQ(model_root().serialize(1, "  "),
              "{\n"
              "  \"_b\" : 0.750000,\n"
              "  \"_doc_count\" : 3,\n"
              "  \"_doc_length_average\" : 2.500000,\n"
              "  \"_doc_token_frequency\" : {\n"
              "\n"
              "  },\n"
              "  \"_k1\" : 1.200000\n"
              "}");
}

TEST(SerializeObject, NestedMembersAtDepthTwo) {
    JsonValue root = model_root();
    root.member("_doc_token_frequency").member("b").set_integer(1);
    root.member("_doc_token_frequency").member("a").set_integer(2);
    const std::string text = root.serialize(1, "  ");
    EXPECT_NE(text.find("  \"_doc_token_frequency\" : {\n"
                        "    \"a\" : 2,\n"
                        "    \"b\" : 1\n"
                        "  },\n"),
              std::string::npos)
        << text;
}

TEST(SerializeObject, DepthZeroHasNoPad) {
    JsonValue root;
    root.member("a").member("b").set_integer(1);
    EXPECT_EQ(root.serialize(0, "  "), "{\n\"a\" : {\n  \"b\" : 1\n}\n}");
}

TEST(SerializeObject, EmptyObjectPerDepth) {
    const JsonValue empty = JsonValue::make(JsonKind::Object);
    EXPECT_EQ(empty.serialize(0, "  "), "{\n\n}");
    EXPECT_EQ(empty.serialize(1, "  "), "{\n\n}");
    EXPECT_EQ(empty.serialize(2, "  "), "{\n\n  }");
    EXPECT_EQ(empty.serialize(-3, "  "), "{\n\n}");
}

TEST(SerializeObject, ClosingBraceStepsBackTwoCharactersNotOneUnit) {
    JsonValue root;
    root.member("a").set_integer(1);
    EXPECT_EQ(root.serialize(1, " "), "{\n \"a\" : 1\n}");
    EXPECT_EQ(root.serialize(1, "    "), "{\n    \"a\" : 1\n  }");
}

TEST(SerializeObject, KeysAreWrittenAsHeldValuesEscaped) {
    JsonValue root;
    root.member("q\"k") = JsonValue("q\"\\\t/\x01");
    EXPECT_EQ(root.serialize(1, "  "), "{\n  \"q\"k\" : \"q\\\"\\\\\\t/\x01\"\n}");
}

TEST(SerializeArray, StaysOnOneLine) {
    JsonValue array = JsonValue::make(JsonKind::Array);
    EXPECT_EQ(array.serialize(1, "  "), "[]");
    array.element(0).set_integer(1);
    array.element(1).set_integer(2);
    EXPECT_EQ(array.serialize(1, "  "), "[1, 2]");
    array.element(2).member("k") = JsonValue(true);
    array.element(3) = JsonValue::make(JsonKind::Array);
    EXPECT_EQ(array.serialize(1, "  "), "[1, 2, {\n    \"k\" : true\n  }, []]");
}

TEST(SerializeScalar, NullBooleanInteger) {
    EXPECT_EQ(JsonValue().serialize(1, "  "), "null");
    EXPECT_EQ(JsonValue(false).serialize(1, "  "), "false");
    EXPECT_EQ(JsonValue(-7).serialize(1, "  "), "-7");
    EXPECT_EQ(JsonValue(std::numeric_limits<std::int32_t>::min()).serialize(1, "  "),
              "-2147483648");
}

TEST(SerializeScalar, FloatsInFixedNotation) {
    EXPECT_EQ(JsonValue(-1.5).serialize(1, "  "), "-1.500000");
    EXPECT_EQ(JsonValue(0.0000001).serialize(1, "  "), "0.000000");
    EXPECT_EQ(JsonValue(-0.0000001).serialize(1, "  "), "-0.000000");
    EXPECT_EQ(JsonValue(10.0 / 3.0).serialize(1, "  "), "3.333333");
    const std::string big = JsonValue(1e300).serialize(1, "  ");
    EXPECT_EQ(big.size(), 301U + 7U);
    EXPECT_EQ(big.substr(0, 4), "1000");
    EXPECT_EQ(JsonValue(std::numeric_limits<double>::infinity()).serialize(1, "  "), "inf");
    EXPECT_EQ(JsonValue(-std::numeric_limits<double>::infinity()).serialize(1, "  "), "-inf");
    EXPECT_EQ(JsonValue(std::nan("")).serialize(1, "  "), "nan");
}

}  // namespace
}  // namespace vorn::typing::text
