// load reads most texts without a tree; whichever way it reads a text, the
// exception, the messages and the model's state must be those of the tree.

#include "bm25/model_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bm25/model_text.h"
#include "load_outcome.h"
#include "test_access.h"

namespace vorn::typing::text {
namespace {

using namespace std::string_literals;

BM25 trained_start() {
    BM25 model(0.3, 0.4);
    model.train(StringTokens{"kept", "both", "kept"});
    return model;
}

std::string dumped_text(const BM25& model) {
    return ModelText({model.b(), model.k1(), model.doc_count(), model.doc_length_average()},
                     model.doc_token_frequency())
        .str();
}

bool takes_fast_path(const std::string& text) {
    ModelScan scan;
    return scan_model_text(text, scan);
}

const std::string kGood =
    R"({"_b": 0.5, "_doc_count": 2, "_doc_length_average": 1.5, "_k1": 1.1, )";

// Texts for every row of the failure table and the corners of the format;
// `fast` says whether the strict reader should take them.
const struct {
    std::string text;
    bool fast;
} kTexts[] = {
    {kGood + R"("_doc_token_frequency": {"a": 3, "both": 1}})", true},
    {kGood + R"("_doc_token_frequency": {}})", true},
    // Repeated keys: the last one wins, in the table too.
    {kGood + R"("_doc_token_frequency": {"a": 3, "b": 1, "a": 5}})", true},
    {kGood + R"("_doc_token_frequency": {"x": 1}, "_doc_token_frequency": {"y": 2}})", true},
    {kGood + R"("_doc_token_frequency": {"x": 1}, "_doc_token_frequency": 7})", true},
    {kGood + R"("_doc_token_frequency": 7, "_doc_token_frequency": {"y": 2}})", true},
    {kGood + R"("_doc_token_frequency": {"x": 1.5}, "_doc_token_frequency": {"y": 2}})", false},
    {kGood + R"("_b": 1, "_b": 0.25, "_doc_count": 9})", true},
    // Keys with escapes, NUL and bytes that are not UTF-8.
    {kGood + R"("_doc_token_frequency": {"q\"uote": 1, "back\\slash": 2, "\b\f\n\r\t": 3,)"
             R"( "\/": 4, "\u0041": 5, "\x": 6, "": 7}})",
     true},
    {kGood + "\"_doc_token_frequency\": {\"nul\0in\": 1, \"\xff\xfe\": 2}}"s, true},
    // "\u" escapes in token keys, as other JSON writers write them: decoded,
    // pairs into one character, in one pass with the other escapes.
    {kGood + R"("_doc_token_frequency": {"\u676d\u5dde": 3, "\ud83d\ude00": 2, "\\u0041": 1,)"
             R"( "\\\u0041": 4, "\u0000": 5, "\u00E9": 6, "\u0022\u005c": 7, "A": 8}})",
     true},
    {kGood + R"("note": "x", "_doc_token_frequency": {"\u676d\u5dde": 3, "\\u0041": 1}})", false},
    // Half a surrogate pair refuses the file; elsewhere than in a token key
    // an escape is what parse reads.
    {kGood + R"("_doc_token_frequency": {"a": 1, "\ud83d": 2}})", false},
    {kGood + R"("_doc_token_frequency": {"\uDE00": 2}, "note": "x"})", false},
    {kGood + R"("_doc_token_frequency": {"\ud83d\u0041": 2}})", false},
    {kGood + R"("_doc_token_frequency": {"\ud83d\u12G4": 2}})", false},
    {kGood + R"("_doc_token_frequency": {"a": 1.5, "\ud83dx": 2}})", false},
    {kGood + R"("extra": {"\ud83d": 1}, "\ud83d": 2, "_doc_token_frequency": {"a": 1}})", false},
    {R"({"\u005fb": 0.5, "_doc_count": 1, "_doc_length_average": 1.0, "_k1": 1.0})", true},
    // An escape that is not one (a backslash before a character) beside "\u" keys.
    {R"({"_b":0.5,"_doc_count":1,"zdoc_length_average":3.0,"_doc_token_frequency":{"q\"uote":1,)"
     R"("back\北京\slash":1,"\u0041":6,"":1,"北京":1},"_k1":2.0})",
     true},
    // Text beyond ASCII, as a str holds it: keys, strings the reader leaves
    // to parse, a character where a delimiter is due, and counts with more
    // leading zeros than a count has digits.
    {kGood + R"("_doc_token_frequency": {"北京": 3, "é": 2, "😀": 1, "\u00e9x": 4, "ÿ": 5}})", true},
    {kGood + R"("note": "北京", "_doc_token_frequency": {"北": 1}})", false},
    {R"({"_b": 5e-1北, "_doc_count": 1, "_doc_token_frequency": {"é": 1}})", false},
    {R"({"_doc_count": 1é, "_doc_length_average": 1.0})", false},
    {kGood + R"("_doc_token_frequency": {"é": 0000000000000000000000000012}})", true},
    // Text after the object, with and without a second object.
    {kGood + R"("_doc_token_frequency": {"a": 1}} {"_doc_count": 1})", true},
    {kGood + R"("_doc_token_frequency": {"a": 1}}trailing)", true},
    // Members the model does not know, of the kinds the strict reader reads.
    {kGood + R"("extra": 5, "_doc_token_frequency": {"a": 1}})", true},
    {kGood + R"("extra": {"x": 1}, "_doc_token_frequency": {"a": 1}})", false},
    // Numbers in the other forms parse reads: exponents, overflow to infinity,
    // zero times infinity, negative counts, counts at the limits.
    {R"({"_b": 7.5e-1, "_doc_count": 3, "_doc_length_average": 25e-1, "_k1": 1E0})", true},
    {R"({"_b": 1e400, "_doc_count": 3, "_doc_length_average": 0e400, "_k1": -1e400})", true},
    {kGood + R"("_doc_token_frequency": {"n": -5, "max": 2147483647, "min": -2147483648}})", true},
    {kGood + R"("_doc_token_frequency": {"a": 12-3}})", false},
    // The failure table, row by row.
    {R"({"_doc_token_frequency": {"x": 1, "y": 1.5, "z": 3}, "_doc_count": 1})", false},
    {R"({"_doc_token_frequency": {"x": 1}, "_doc_length_average": 1.5})", true},
    {R"({"_doc_count": 3.0, "_doc_length_average": 1.5})", true},
    {R"({"_doc_count": 3, "_doc_length_average": 2})", true},
    {R"({"_doc_count": 3, "_doc_length_average": "1.5"})", false},
    {R"({"_doc_count": 4, "_doc_length_average": 2.5, "_b": 1})", true},
    {R"({"_doc_count": 4, "_doc_length_average": 2.5, "_b": 1.0})", true},
    {R"({"_doc_count": 4, "_doc_length_average": 2.5, "_b": 1.0, "_k1": [1.1]})", false},
    {R"({"_doc_token_frequency": "s", "_doc_count": 1})", false},
    {"{}", true},
    {"[1, 2]", false},
    {"42 ", false},
    {"   ", false},
    {"oops", false},
    {"{", false},
    // A missing final brace: parse says so, and everything loads.
    {kGood + R"("_doc_token_frequency": {"a": 1})", false},
    {kGood + R"("_doc_token_frequency": {"a": 1}, )", false},
    // Number text that does not convert: nothing changes.
    {R"({"_doc_token_frequency": {"a": 5}, "_doc_count": 2147483648})", false},
    {R"({"_doc_token_frequency": {"a": 2147483648}, "_doc_count": 1})", false},
    {R"({"_doc_token_frequency": {"a": 5}, "_b": 1e})", false},
    {R"({"_b": -.e1, "_doc_count": 1})", false},
    // A model text ends at a NUL as at its end.
    {"{\"_doc_count\" : 1\0, \"_b\" : 1.0}"s, false},
    {"{\"_doc_count\" : 1}\0"s, true},
};

TEST(ModelReader, LoadAgreesWithTheTreeOnEveryText) {
    for (const BM25& start : {BM25(0.75, 1.2), trained_start()}) {
        for (const auto& [text, fast] : kTexts) {
            SCOPED_TRACE(text);
            EXPECT_EQ(takes_fast_path(text), fast);
            const LoadOutcome mine = loaded(start, text);
            const LoadOutcome tree = loaded_through_tree(start, text);
            EXPECT_EQ(mine.thrown, tree.thrown);
            EXPECT_EQ(mine.err, tree.err);
            EXPECT_EQ(mine.table, tree.table);
            EXPECT_TRUE(mine == tree);
            // The same text as the code points of a Python str.
            if (const auto points = code_points_of(text)) {
                for (const LoadOutcome& wide : loaded_as_code_points(start, *points)) {
                    EXPECT_EQ(wide.thrown, mine.thrown);
                    EXPECT_TRUE(wide == mine);
                }
            }
        }
    }
}

TEST(ModelReader, DumpedFilesTakeTheFastPath) {
    BM25 model(0.3, 1.7);
    EXPECT_TRUE(takes_fast_path(dumped_text(model)));
    model.train(StringTokens{"q\"uote", "back\\slash", "\b\f\n\r\t", "", "\\u0041", "\xff\xfe",
                             std::string("nul\0byte", 8), "\\n", "/", "a", "a"});
    model.train(IdTokens{-9, 42});
    const std::string text = dumped_text(model);
    ModelScan scan;
    ASSERT_TRUE(scan_model_text(text, scan));
    EXPECT_TRUE(scan.has_tokens);
    EXPECT_EQ(scan.token_members, model.doc_token_frequency().size());
    EXPECT_EQ(text.substr(scan.tokens_at, 2), "{\n");

    BM25 loaded_model(0.0, 0.0);
    loaded_model.load(text);
    EXPECT_EQ(table_of(loaded_model), table_of(model));
    EXPECT_EQ(dumped_text(loaded_model), text);
}

// Many random tokens, quotes, backslashes and control characters among them,
// loaded both ways into a model that already holds some of them.
TEST(ModelReader, LargeRandomModelsLoadAlikeBothWays) {
    std::mt19937 random(21);
    std::uniform_int_distribution<int> byte(0, 255);
    BM25 model(0.75, 1.2);
    for (int document = 0; document < 300; ++document) {
        StringTokens tokens;
        for (int i = 0; i < 100; ++i) {
            std::string token(static_cast<std::size_t>(byte(random) % 9), '\0');
            for (char& c : token) {
                c = static_cast<char>(byte(random) < 200 ? 'a' + byte(random) % 5 : byte(random));
            }
            tokens.push_back(token);
        }
        model.train(tokens);
    }
    const std::string text = dumped_text(model);
    ASSERT_TRUE(takes_fast_path(text));
    BM25 start(0.1, 0.2);
    start.train(StringTokens{"a", "zzz", "aab"});
    const LoadOutcome mine = loaded(start, text);
    EXPECT_EQ(mine.thrown, "");
    EXPECT_TRUE(mine == loaded_through_tree(start, text));
    BM25 fresh(0.0, 0.0);
    fresh.load(text);
    EXPECT_EQ(dumped_text(fresh), text);
}

}  // namespace
}  // namespace vorn::typing::text
