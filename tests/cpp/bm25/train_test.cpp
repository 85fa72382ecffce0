#include <gtest/gtest.h>

#include <limits>
#include <numeric>
#include <stdexcept>

#include "bm25/bm25.h"
#include "test_access.h"

namespace vorn::typing::text {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(Train, CountsOccurrencesAndRecomputesAverage) {
    BM25 model(0.75, 1.2);
    model.train(StringTokens{"a", "a", "b"});
    EXPECT_EQ(table_of(model), (Table{{"a", 2}, {"b", 1}}));
    EXPECT_EQ(model.doc_count(), 1);
    EXPECT_EQ(model.doc_length_total(), 3);
    EXPECT_EQ(model.doc_length_average(), 3.0);

    model.train(StringTokens{"a", "c"});
    EXPECT_EQ(table_of(model), (Table{{"a", 3}, {"b", 1}, {"c", 1}}));
    EXPECT_EQ(model.doc_count(), 2);
    EXPECT_EQ(model.doc_length_total(), 5);
    EXPECT_EQ(model.doc_length_average(), 2.5);
}

TEST(Train, IdsShareEntriesWithTheirDecimalText) {
    BM25 model(0.75, 1.2);
    model.train(IdTokens{7, -7, 7});
    EXPECT_EQ(table_of(model), (Table{{"7", 2}, {"-7", 1}}));
    model.train(StringTokens{"7"});
    EXPECT_EQ(table_of(model).at("7"), 3);
    EXPECT_EQ(model.doc_count(), 2);

    model.train(IdTokens{42, std::numeric_limits<std::int64_t>::min(), 0});
    model.train(StringTokens{"042"});
    EXPECT_EQ(table_of(model).at("42"), 1);
    EXPECT_EQ(table_of(model).at("042"), 1);
    EXPECT_EQ(table_of(model).at("-9223372036854775808"), 1);
    EXPECT_EQ(table_of(model).at("0"), 1);
}

TEST(Train, EmptyDocumentIsRefusedWithoutChange) {
    BM25 model(0.75, 1.2);
    EXPECT_THROW(model.train(StringTokens{}), std::runtime_error);
    model.train(StringTokens{"x"});
    try {
        model.train(IdTokens{});
        FAIL() << "expected an exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "trainning tokens_vec should not be empty");
    }
    EXPECT_EQ(model.doc_count(), 1);
    EXPECT_EQ(model.doc_length_total(), 1);
}

TEST(Train, RepeatedTokenAndTotalsStayConsistent) {
    BM25 model(0.75, 1.2);
    model.train(StringTokens(1000, "w"));
    model.train(StringTokens{"w", "v", "u", "v"});
    EXPECT_EQ(table_of(model).at("w"), 1001);
    EXPECT_EQ(model.doc_count(), 2);
    const auto& table = table_of(model);
    const auto sum = std::accumulate(table.begin(), table.end(), std::int64_t{0},
                                     [](std::int64_t s, const auto& e) { return s + e.second; });
    EXPECT_EQ(sum, model.doc_length_total());
    EXPECT_EQ(model.doc_length_average(), 1004.0 / 2.0);
}

TEST(Train, ParametersAreStoredUncheckedAndTouchNoStatistic) {
    BM25 model(0.5, 2.0);
    model.train(StringTokens{"a"});
    model.b(-1.0);
    model.k1(0.0);
    EXPECT_EQ(model.b(), -1.0);
    EXPECT_EQ(model.k1(), 0.0);
    EXPECT_EQ(model.doc_count(), 1);
    EXPECT_EQ(model.doc_length_average(), 1.0);
}

TEST(CountTokens, CountsEachDistinctTokenInItsOwnKind) {
    const StringTokens words{"x", "y", "x", ""};
    const auto string_counts = BM25::count_tokens(words);
    EXPECT_EQ(string_counts.size(), 3u);
    EXPECT_EQ(string_counts.count("x"), 2);
    EXPECT_EQ(string_counts.count(""), 1);
    const auto id_counts = BM25::count_tokens(IdTokens{5, -5, 5, 5});
    EXPECT_EQ(id_counts.count(5), 3);
    EXPECT_EQ(id_counts.count(-5), 1);
}

TEST(TrainOverflow, DocumentCountAtLimitIsRefusedWithoutChange) {
    BM25 model(0.75, 1.2);
    model.train(StringTokens{"a"});
    BM25TestAccess::set_doc_count(model, kMax);
    EXPECT_THROW(model.train(StringTokens{"a"}), std::overflow_error);
    EXPECT_EQ(model.doc_count(), kMax);
    EXPECT_EQ(table_of(model).at("a"), 1);
    EXPECT_EQ(model.doc_length_total(), 1);
}

TEST(TrainOverflow, TokenCountPastLimitIsRefusedWithoutChange) {
    BM25 model(0.75, 1.2);
    BM25TestAccess::set_frequency(model, "full", kMax - 1);
    // "new" precedes or follows "full" in hash order; either way nothing may stay.
    EXPECT_THROW(model.train(StringTokens{"new", "full", "full"}), std::overflow_error);
    EXPECT_EQ(table_of(model), (Table{{"full", kMax - 1}}));
    EXPECT_EQ(model.doc_count(), 0);
    EXPECT_EQ(model.doc_length_total(), 0);

    model.train(StringTokens{"full", "new"});
    EXPECT_EQ(table_of(model).at("full"), kMax);
    EXPECT_THROW(model.train(StringTokens{"full"}), std::overflow_error);
    model.train(IdTokens{1});  // other tokens still train at the limit
    EXPECT_EQ(table_of(model).at("1"), 1);
    EXPECT_EQ(model.doc_count(), 2);
}

}  // namespace
}  // namespace vorn::typing::text
