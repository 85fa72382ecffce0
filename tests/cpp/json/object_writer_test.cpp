// The one writer of the object layout: its form pinned down directly, and
// members written one at a time, the output emptied between them, joining
// into exactly the serializer's text of the same tree.

#include "json/object_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "json/escape.h"
#include "json/json_value.h"

namespace vorn::typing::text {
namespace {

TEST(ObjectWriter, EmptyObjectClosesTwoCharactersBackFromThePad) {
    const struct {
        int depth;
        std::string indent;
        std::string expected;
    } rows[] = {
        {1, "  ", "{\n\n}"}, {2, "  ", "{\n\n  }"}, {3, "  ", "{\n\n    }"},
        {0, "  ", "{\n\n}"}, {-3, "  ", "{\n\n}"},  {1, " ", "{\n\n}"},
        {2, " ", "{\n\n}"},  {3, " ", "{\n\n }"},   {1, "    ", "{\n\n  }"},
        {2, "\t", "{\n\n}"}, {1, "", "{\n\n}"},
    };
    for (const auto& row : rows) {
        std::string out = "before:";
        ObjectWriter object(out, row.depth, row.indent);
        object.close();
        EXPECT_EQ(out, "before:" + row.expected) << row.depth << " '" << row.indent << "'";
    }
}

TEST(ObjectWriter, MembersSeparatorsAndNestedObjects) {
    std::string out;
    ObjectWriter root(out, 1, "  ");
    root.key("a");
    write_integer(out, 1);
    root.key("b");
    {
        ObjectWriter inner(out, 2, "  ");
        inner.key("c");
        write_float(out, 0.5);
        inner.close();
    }
    root.key("d");
    {
        ObjectWriter empty(out, 2, "  ");
        empty.close();
    }
    root.key("e");
    write_string(out, "q\"\t/");
    root.close();
    EXPECT_EQ(out,
              "{\n"
              "  \"a\" : 1,\n"
              "  \"b\" : {\n"
              "    \"c\" : 0.500000\n"
              "  },\n"
              "  \"d\" : {\n"
              "\n"
              "  },\n"
              "  \"e\" : \"q\\\"\\t/\"\n"
              "}");
}

// Keys are held escaped by whoever hands them over; the writer adds nothing.
TEST(ObjectWriter, KeysAreWrittenAsGiven) {
    std::string out;
    ObjectWriter object(out, 0, "  ");
    object.key("q\"\\");
    write_integer(out, 0);
    object.key(std::string("nul\0", 4));
    write_integer(out, 0);
    object.close();
    EXPECT_EQ(out, std::string("{\n\"q\"\\\" : 0,\n\"nul") + '\0' + "\" : 0\n}");
}

// A member in one append is the key and its value written one after the
// other: keys of every size up to and past the longest line kept on the
// stack, first members and later ones, at several depths.
TEST(ObjectWriter, IntegerMembersEqualKeyAndValue) {
    const std::int32_t values[] = {0, 7, -1, 2147483647, -2147483647 - 1};
    for (const int depth : {1, 2, 5}) {
        for (const bool padded : {false, true}) {
            std::string expected;
            std::string out;
            ObjectWriter reference(expected, depth, "  ");
            ObjectWriter writer(out, depth, "  ");
            for (std::size_t size = 0; size <= 140; ++size) {
                std::string key(size, static_cast<char>('a' + size % 26));
                const std::int32_t value = values[size % 5];
                reference.key(key);
                write_integer(expected, value);
                key.append(kPaddedText, '!');
                const std::string_view view(key.data(), size);
                if (padded) {
                    writer.integer_member_padded(view, value);
                } else {
                    writer.integer_member(view, value);
                }
            }
            reference.close();
            writer.close();
            EXPECT_EQ(out, expected) << depth << padded;
        }
    }
}

TEST(ValueWriters, NumbersAsTheSerializerWritesThem) {
    const auto integer = [](std::int32_t number) {
        std::string out;
        write_integer(out, number);
        return out;
    };
    EXPECT_EQ(integer(0), "0");
    EXPECT_EQ(integer(-7), "-7");
    EXPECT_EQ(integer(std::numeric_limits<std::int32_t>::max()), "2147483647");
    EXPECT_EQ(integer(std::numeric_limits<std::int32_t>::min()), "-2147483648");

    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> exponent(-12.0, 30.0);
    for (int i = 0; i < 2000; ++i) {
        const double number = (i % 2 == 0 ? 1 : -1) * std::pow(10.0, exponent(random));
        std::string out;
        write_float(out, number);
        char expected[400];
        std::snprintf(expected, sizeof expected, "%f", number);
        ASSERT_EQ(out, expected);
        EXPECT_EQ(JsonValue(number).serialize(1, "  "), out);
    }
    std::string out;
    write_float(out, -0.0000001);
    EXPECT_EQ(out, "-0.000000");
}

TEST(ValueWriters, StringsEscapeExactlySevenCharacters) {
    std::string out;
    write_string(out, "\"\\\b\t\n\f\r/\x01\x7f\xe4\xb8\xad");
    EXPECT_EQ(out, "\"\\\"\\\\\\b\\t\\n\\f\\r/\x01\x7f\xe4\xb8\xad\"");
}

// A caller that writes its members straight from its own storage and empties
// the output whenever it likes gets the serializer's text of the tree.
TEST(ObjectWriter, MembersWrittenInPiecesEqualTheSerializedTree) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> byte(0, 255);
    JsonValue root = JsonValue::make(JsonKind::Object);
    JsonValue& inner = root.member("m");
    for (int i = 0; i < 3000; ++i) {
        std::string key(static_cast<std::size_t>(byte(random) % 7), '\0');
        for (char& c : key) {
            c = static_cast<char>(byte(random) < 160 ? 'a' + byte(random) % 4 : byte(random));
        }
        inner.member(escape_string(key)).set_integer(byte(random) * 1000 - 128000);
    }
    root.member("a").set_float(0.125);
    root.member("z").set_integer(-1);

    for (const std::size_t flush_every : {std::size_t{1}, std::size_t{7}, std::size_t{100000}}) {
        std::string joined;
        std::string out;
        const auto flush = [&] {
            joined += out;
            out.clear();
        };
        ObjectWriter writer(out, 1, "  ");
        writer.key("a");
        write_float(out, 0.125);
        writer.key("m");
        {
            ObjectWriter members(out, 2, "  ");
            std::size_t written = 0;
            for (const auto& [key, value] : root.members().at("m").members()) {
                bool ok = false;
                members.key(key);
                write_integer(out, value.to_integer(ok));
                if (++written % flush_every == 0) {
                    flush();
                }
            }
            members.close();
        }
        writer.key("z");
        write_integer(out, -1);
        writer.close();
        flush();
        EXPECT_EQ(joined, root.serialize(1, "  ")) << flush_every;
    }
}

}  // namespace
}  // namespace vorn::typing::text
