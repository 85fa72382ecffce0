#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "json/escape.h"
#include "json/json_value.h"

namespace vorn::typing::text {
namespace {

std::vector<std::string> keys_of(const JsonValue& value) {
    std::vector<std::string> keys;
    std::transform(value.members().begin(), value.members().end(), std::back_inserter(keys),
                   [](const auto& entry) { return entry.first; });
    return keys;
}

TEST(JsonValueMake, GivesEachKindWithItsEmptyPayload) {
    bool ok = false;
    EXPECT_EQ(JsonValue().kind(), JsonKind::Null);
    EXPECT_EQ(JsonValue::make(JsonKind::Float).to_float(ok), 0.0);
    EXPECT_TRUE(ok);
    EXPECT_EQ(JsonValue::make(JsonKind::Integer).to_integer(ok), 0);
    EXPECT_TRUE(ok);
    EXPECT_EQ(JsonValue::make(JsonKind::String).to_string(ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(JsonValue::make(JsonKind::Boolean).serialize(1, "  "), "false");
    EXPECT_EQ(JsonValue::make(JsonKind::Array).serialize(1, "  "), "[]");
    EXPECT_TRUE(JsonValue::make(JsonKind::Object).members().empty());
    EXPECT_EQ(static_cast<int>(JsonKind::Boolean), 6);
}

TEST(JsonValueMake, StringLiteralBuildsAStringNotABoolean) {
    EXPECT_EQ(JsonValue("x").kind(), JsonKind::String);
}

TEST(JsonValueRead, AccessorsDoNotConvertBetweenKinds) {
    bool ok = true;
    EXPECT_EQ(JsonValue(5).to_float(ok), 0.0);
    EXPECT_FALSE(ok);
    ok = true;
    EXPECT_EQ(JsonValue(5.0).to_integer(ok), 0);
    EXPECT_FALSE(ok);
    ok = true;
    EXPECT_EQ(JsonValue(true).to_string(ok), "");
    EXPECT_FALSE(ok);
    EXPECT_TRUE(JsonValue(1).members().empty());
}

TEST(JsonValueRead, ToStringEscapesTheContent) {
    bool ok = false;
    EXPECT_EQ(JsonValue("a\nb").to_string(ok), "a\\nb");
    EXPECT_TRUE(ok);
}

TEST(JsonValueMember, ConvertsAnotherKindToAnObjectAndInsertsNull) {
    JsonValue value(7);
    EXPECT_EQ(value.member("_b").kind(), JsonKind::Null);
    EXPECT_EQ(value.kind(), JsonKind::Object);
    EXPECT_EQ(keys_of(value), std::vector<std::string>{"_b"});
}

TEST(JsonValueMember, ExistingKeyIsReturnedNotAdded) {
    JsonValue value;
    value.member("a").set_integer(1);
    bool ok = false;
    EXPECT_EQ(value.member("a").to_integer(ok), 1);
    EXPECT_EQ(value.members().size(), 1U);
}

TEST(JsonValueMember, KeysAreOrderedByUnsignedBytes) {
    JsonValue value;
    for (const char* key : {"_k1", "\xE4\xB8\xAD", "a", "_b", "", "_doc_count", "B"}) {
        value.member(key);
    }
    EXPECT_EQ(keys_of(value),
              (std::vector<std::string>{"", "B", "_b", "_doc_count", "_k1", "a", "\xE4\xB8\xAD"}));
}

TEST(JsonValueMember, ReferencesSurviveFurtherInsertions) {
    JsonValue value;
    JsonValue& first = value.member("m");
    for (int i = 0; i < 100; ++i) {
        value.member("k" + std::to_string(i));
    }
    first.set_integer(3);
    bool ok = false;
    EXPECT_EQ(value.member("m").to_integer(ok), 3);
}

TEST(JsonValueMember, ObjectItemsConvertsLikeMember) {
    JsonValue value("text");
    value.object_items().emplace_hint(value.object_items().end(), "z", JsonValue(1));
    EXPECT_EQ(value.kind(), JsonKind::Object);
    EXPECT_EQ(keys_of(value), std::vector<std::string>{"z"});
}

TEST(JsonValueElement, PadsWithNullAndKeepsTheSize) {
    JsonValue value;
    value.element(3);
    EXPECT_EQ(value.serialize(1, "  "), "[null, null, null, null]");
    JsonValue& second = value.element(1);
    second.set_integer(9);
    EXPECT_EQ(value.serialize(1, "  "), "[null, 9, null, null]");
}

TEST(JsonValueElement, ReferencesSurviveGrowth) {
    JsonValue value;
    JsonValue& first = value.element(0);
    value.element(10000);
    first.set_integer(1);
    EXPECT_EQ(value.element(0).serialize(0, ""), "1");
}

TEST(JsonValueCopy, IsDeep) {
    JsonValue source;
    source.member("a").element(0).set_integer(1);
    JsonValue copy(source);
    copy.member("a").element(0).set_integer(2);
    copy.member("b");
    EXPECT_EQ(source.serialize(0, ""), "{\n\"a\" : [1]\n}");

    JsonValue assigned(1.5);
    assigned = source;
    EXPECT_EQ(assigned.serialize(0, ""), "{\n\"a\" : [1]\n}");
}

TEST(JsonValueCopy, FromOwnDescendant) {
    JsonValue value;
    value.member("a").member("b").set_integer(4);
    value = value.member("a");
    EXPECT_EQ(value.serialize(0, ""), "{\n\"b\" : 4\n}");
}

TEST(JsonValueMove, LeavesTheSourceNull) {
    JsonValue source("text");
    JsonValue target(std::move(source));
    // Moving out leaves Null behind by design, so reading it is the point.
    // NOLINTNEXTLINE(bugprone-use-after-move,clang-analyzer-cplusplus.Move)
    EXPECT_EQ(source.kind(), JsonKind::Null);
    EXPECT_EQ(target.kind(), JsonKind::String);

    JsonValue other(3);
    other = std::move(target);
    // NOLINTNEXTLINE(bugprone-use-after-move,clang-analyzer-cplusplus.Move)
    EXPECT_EQ(target.kind(), JsonKind::Null);
    EXPECT_EQ(other.serialize(0, ""), "\"text\"");
}

TEST(JsonValueMove, SubtreeOutOfItsOwnParent) {
    JsonValue root;
    root.member("table").member("tok").set_integer(2);
    root.member("other").set_integer(1);
    JsonValue table = std::move(root.member("table"));
    EXPECT_EQ(root.member("table").kind(), JsonKind::Null);
    root = std::move(root.member("other"));
    EXPECT_EQ(root.serialize(0, ""), "1");
    EXPECT_EQ(table.serialize(0, ""), "{\n\"tok\" : 2\n}");
}

TEST(JsonValueSet, ReplacesAnyKind) {
    JsonValue value;
    value.member("a");
    value.set_float(2.5);
    bool ok = false;
    EXPECT_EQ(value.to_float(ok), 2.5);
    value.set_integer(-3);
    EXPECT_EQ(value.to_integer(ok), -3);
    EXPECT_TRUE(ok);
}

TEST(EscapeString, ReplacesExactlySevenBytes) {
    EXPECT_EQ(escape_string("\"\\\b\t\n\f\r"), "\\\"\\\\\\b\\t\\n\\f\\r");
    const std::string untouched =
        std::string("/\x01\x7F\x0B", 4) + std::string(1, '\0') + "\xE4\xB8\xAD\xE6\x96\x87";
    EXPECT_EQ(escape_string(untouched), untouched);
}

}  // namespace
}  // namespace vorn::typing::text
