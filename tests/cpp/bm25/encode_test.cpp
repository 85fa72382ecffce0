#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bm25/bm25.h"
#include "test_access.h"

namespace vorn::typing::text {
namespace {

BM25 trained_model() {
    BM25 model(0.75, 1.2);
    model.train(StringTokens{"a", "a", "b"});
    model.train(StringTokens{"a", "c"});
    return model;
}

TEST(EncodeDocument, SaturatesAndNormalisesLength) {
    const BM25 model = trained_model();
    const auto weights = model.encode_document(StringTokens{"a", "b", "a"});
    const double k = ((3.0 / 2.5) * 0.75 + (1.0 - 0.75)) * 1.2;
    EXPECT_EQ(weights, (StringVector{{"a", 2.0 / (2.0 + k)}, {"b", 1.0 / (1.0 + k)}}));
    EXPECT_DOUBLE_EQ(weights.at("a"), 0.591715976331361);
    EXPECT_DOUBLE_EQ(weights.at("b"), 0.42016806722689076);
    EXPECT_DOUBLE_EQ(model.encode_document(StringTokens{"z"}).at("z"), 0.6024096385542168);
}

TEST(EncodeDocument, FollowsParametersAsTheyStandAtTheCall) {
    BM25 model = trained_model();
    model.b(0.0);
    model.k1(2.0);
    EXPECT_EQ(model.encode_document(IdTokens{9}), (IdVector{{9, 1.0 / 3.0}}));
}

// Frequencies and key order must not depend on a document's length or on
// how its tokens share their first eight bytes.
TEST(EncodeDocument, CountsEveryTokenOfLongDocuments) {
    const BM25 model = trained_model();
    const std::vector<std::string> pool{"",
                                        std::string("ab\0", 3),
                                        "ab",
                                        "abcdefgh",
                                        "abcdefghi",
                                        "abcdefgha",
                                        "abcdefgh\xff",
                                        "\xe4\xb8\xad\xe6\x96\x87",
                                        "b"};
    for (const std::size_t length : {1, 7, 342, 5000}) {
        StringTokens tokens;
        std::map<std::string, int> counts;
        for (std::size_t i = 0; i < length; ++i) {
            tokens.push_back(pool[(i * 7 + i / 3) % pool.size()]);
            ++counts[tokens.back()];
        }
        const double k = ((static_cast<double>(length) / 2.5) * 0.75 + (1.0 - 0.75)) * 1.2;
        StringVector expected;
        for (const auto& [token, count] : counts) {
            expected[token] = count / (count + k);
        }
        EXPECT_EQ(model.encode_document(tokens), expected) << length << " tokens";
    }
}

TEST(EncodeQuery, ScalesIdfToSumOne) {
    const BM25 model = trained_model();
    const auto weights = model.encode_query(StringTokens{"a", "b", "d"});
    const double a = std::log(3.0 / 3.5);
    const double b = std::log(3.0 / 1.5);
    const double sum = ((0.0 + a) + b) + b;
    EXPECT_EQ(weights, (StringVector{{"a", a / sum}, {"b", b / sum}, {"d", b / sum}}));
    EXPECT_DOUBLE_EQ(weights.at("a"), -0.12510771443922847);
    EXPECT_DOUBLE_EQ(weights.at("d"), 0.5625538572196142);
}

TEST(EncodeQuery, RepeatsAddNothingAndOneTokenGetsOne) {
    const BM25 model = trained_model();
    EXPECT_EQ(model.encode_query(StringTokens{"b", "b"}), (StringVector{{"b", 1.0}}));
    EXPECT_EQ(model.encode_query(StringTokens{"a"}), (StringVector{{"a", 1.0}}));
}

TEST(EncodeQuery, IdsUseTheStatisticsOfTheirText) {
    BM25 model(0.75, 1.2);
    model.train(IdTokens{7, 7, 9});
    const auto weights = model.encode_query(IdTokens{9, 7});
    ASSERT_EQ(weights.size(), 2u);
    EXPECT_EQ(weights.begin()->first, 7);
    EXPECT_DOUBLE_EQ(weights.at(7), -3.457525015773976);
    EXPECT_DOUBLE_EQ(weights.at(9), 4.457525015773975);

    BM25 by_text(0.75, 1.2);
    by_text.train(StringTokens{"7", "7", "9"});
    EXPECT_EQ(by_text.encode_query(IdTokens{9, 7}), weights);
}

TEST(Encode, EmptyListNeedsNoTraining) {
    const BM25 model(0.75, 1.2);
    EXPECT_TRUE(model.encode_document(StringTokens{}).empty());
    EXPECT_TRUE(model.encode_query(IdTokens{}).empty());
}

TEST(Encode, UntrainedOrZeroAverageModelRefuses) {
    BM25 model(0.75, 1.2);
    try {
        (void)model.encode_query(StringTokens{"a"});
        FAIL() << "expected an exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "BM25 has not been initialized");
    }
    BM25TestAccess::set_doc_count(model, 3);
    EXPECT_THROW((void)model.encode_document(IdTokens{1}), std::runtime_error);
    BM25TestAccess::set_average(model, 1e-9);
    EXPECT_NO_THROW((void)model.encode_document(IdTokens{1}));
    BM25TestAccess::set_average(model, -2e-9);
    EXPECT_NO_THROW((void)model.encode_query(IdTokens{1}));
    BM25TestAccess::set_average(model, 9e-10);
    EXPECT_THROW((void)model.encode_query(IdTokens{1}), std::runtime_error);
}

TEST(Idf, SignFollowsFrequencyAgainstDocumentCount) {
    const BM25 model = trained_model();  // N = 2
    EXPECT_GT(model.idf("never-seen"), 0.0);
    EXPECT_GT(model.idf("b"), 0.0);
    EXPECT_LT(model.idf("a"), 0.0);  // f = 3 = N + 1
}

TEST(Idf, LargestDocumentCountDoesNotOverflow) {
    BM25 model(0.75, 1.2);
    BM25TestAccess::set_doc_count(model, std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(model.idf("x"), std::log(2147483648.0 / 1.5));
}

}  // namespace
}  // namespace vorn::typing::text
