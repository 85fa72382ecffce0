#include "search/max_score.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "search/posting_block.h"

namespace vorn::typing::text {
namespace {

// One term's postings: (document, frequency), documents ascending.
using Postings = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

struct Table {
    std::vector<double> normalisers;  // K by document
    std::vector<Postings> lists;      // by term
    std::vector<double> weights;      // query weight by term
};

// Blocks of kBlockPostings keyed by their first document, as the database
// holds them; counts what the plan asks for.
class MemoryStore final : public PostingStore {
  public:
    struct Calls {
        std::size_t all = 0;
        std::size_t keys = 0;
        std::size_t some_blocks = 0;
    };

    explicit MemoryStore(const std::vector<Postings>& lists) : calls(lists.size()) {
        for (const Postings& list : lists) {
            std::map<std::uint32_t, std::pair<std::string, std::string>> blocks;
            for (std::size_t start = 0; start < list.size(); start += kBlockPostings) {
                std::vector<std::uint32_t> docs;
                std::vector<std::uint32_t> tfs;
                for (std::size_t i = start; i < std::min(list.size(), start + kBlockPostings);
                     ++i) {
                    docs.push_back(list[i].first);
                    tfs.push_back(list[i].second);
                }
                blocks.emplace(docs.front(), encode_block(docs, tfs));
            }
            terms_.push_back(std::move(blocks));
        }
    }

    BlockRows all_blocks(std::size_t term) override {
        ++calls.at(term).all;
        BlockRows rows;
        for (const auto& [key, row] : terms_.at(term)) {
            rows.push_back(row);
        }
        return rows;
    }

    std::vector<std::uint32_t> block_keys(std::size_t term) override {
        ++calls.at(term).keys;
        std::vector<std::uint32_t> keys;
        for (const auto& [key, row] : terms_.at(term)) {
            keys.push_back(key);
        }
        return keys;
    }

    BlockRows blocks(std::size_t term, const std::vector<std::uint32_t>& keys) override {
        calls.at(term).some_blocks += keys.size();
        EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end(), std::less_equal<>()));
        BlockRows rows;
        for (const std::uint32_t key : keys) {
            rows.push_back(terms_.at(term).at(key));  // std::out_of_range: not a key
        }
        return rows;
    }

    std::vector<Calls> calls;

  private:
    std::vector<std::map<std::uint32_t, std::pair<std::string, std::string>>> terms_;
};

double stored_weight(const Table& table, std::uint32_t doc, std::uint32_t tf) {
    const auto frequency = static_cast<double>(tf);
    return frequency / (frequency + table.normalisers[doc]);
}

// Every matching document, its score summed in term order from 0.0, a term
// it lacks adding weight x 0.0.
std::vector<Scored> brute_force(const Table& table) {
    std::set<std::uint32_t> matches;
    for (const Postings& list : table.lists) {
        for (const auto& posting : list) {
            matches.insert(posting.first);
        }
    }
    std::vector<Scored> scored;
    for (const std::uint32_t doc : matches) {
        double score = 0.0;
        for (std::size_t term = 0; term < table.lists.size(); ++term) {
            const Postings& list = table.lists[term];
            const auto at = std::lower_bound(list.begin(), list.end(), std::make_pair(doc, 0U));
            const bool present = at != list.end() && at->first == doc;
            score += table.weights[term] * (present ? stored_weight(table, doc, at->second) : 0.0);
        }
        scored.push_back({doc, score});
    }
    return scored;
}

// `loose`: the bounds as the search tool passes them, [min(0, w x bound),
// max(0, w x bound)] with the bound 1.0, rather than the tightest.
std::vector<QueryTerm> query_terms(const Table& table, bool loose = false) {
    std::vector<QueryTerm> terms;
    for (std::size_t term = 0; term < table.lists.size(); ++term) {
        double smallest = 1.0;
        double largest = 0.0;
        for (const auto& [doc, tf] : table.lists[term]) {
            if (doc >= table.normalisers.size()) {
                continue;  // a damaged table, which the plan must refuse
            }
            smallest = std::min(smallest, stored_weight(table, doc, tf));
            largest = std::max(largest, stored_weight(table, doc, tf));
        }
        const double weight = table.weights[term];
        if (loose) {
            smallest = 0.0;
            largest = 1.0;
        }
        const double first = weight * smallest;
        const double second = weight * largest;
        terms.push_back(
            {weight, std::min(first, second), std::max(first, second), table.lists[term].size()});
    }
    return terms;
}

void sort_best_first(std::vector<Scored>& scored) {
    std::sort(scored.begin(), scored.end(), [](const Scored& a, const Scored& b) {
        return a.score != b.score ? a.score > b.score : a.doc < b.doc;
    });
}

// Through `plan` where given, kept from earlier queries; with `removed`, the
// store may hold postings of documents whose normaliser is NaN.
std::vector<Scored> candidates(const Table& table, std::size_t k, PostingStore& store,
                               bool loose = false, MaxScore* plan = nullptr, bool removed = false) {
    const Normalisers normalisers = {table.normalisers.data(), table.normalisers.size(), removed};
    return plan == nullptr ? max_score_candidates(query_terms(table, loose), k, normalisers, store)
                           : plan->candidates(query_terms(table, loose), k, normalisers, store);
}

// The candidates are matches with their brute-force scores, bit for bit, and
// hold the brute force's first k, ties by document. The store holds `stored`
// where given: the table's lists and the postings of removed documents.
void expect_top_k(const Table& table, std::size_t k, bool loose = false, MaxScore* plan = nullptr,
                  const std::vector<Postings>* stored = nullptr) {
    MemoryStore store(stored == nullptr ? table.lists : *stored);
    std::vector<Scored> found = candidates(table, k, store, loose, plan, stored != nullptr);
    std::vector<Scored> expected = brute_force(table);
    std::map<std::uint32_t, double> exact;
    for (const Scored& entry : expected) {
        exact.emplace(entry.doc, entry.score);
    }
    std::set<std::uint32_t> seen;
    for (const Scored& entry : found) {
        ASSERT_TRUE(seen.insert(entry.doc).second) << "twice: " << entry.doc;
        const auto at = exact.find(entry.doc);
        ASSERT_NE(at, exact.end()) << "not a match: " << entry.doc;
        ASSERT_EQ(entry.score, at->second) << "document " << entry.doc;
    }
    sort_best_first(found);
    sort_best_first(expected);
    const std::size_t count = std::min(k, expected.size());
    ASSERT_GE(found.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
        ASSERT_EQ(found[i].doc, expected[i].doc) << "rank " << i;
        ASSERT_EQ(found[i].score, expected[i].score) << "rank " << i;
    }
}

struct Shape {
    std::uint32_t docs;
    std::vector<double> density;  // by term: the share of documents holding it
    double lightest;              // query weights drawn from [lightest, heaviest]
    double heaviest;
    bool tie_prone = false;  // every K equal, frequencies 1 or 3
};

Table random_table(const Shape& shape, std::mt19937& random) {
    Table table;
    std::uniform_real_distribution<double> normaliser(0.2, 3.0);
    for (std::uint32_t doc = 0; doc < shape.docs; ++doc) {
        table.normalisers.push_back(shape.tie_prone ? 1.2 : normaliser(random));
    }
    std::uniform_real_distribution<double> weight(shape.lightest, shape.heaviest);
    std::uniform_real_distribution<double> share(0.0, 1.0);
    std::geometric_distribution<std::uint32_t> frequency(0.4);
    for (const double density : shape.density) {
        Postings list;
        for (std::uint32_t doc = 0; doc < shape.docs; ++doc) {
            if (share(random) < density) {
                const std::uint32_t tf = frequency(random);
                list.emplace_back(doc, shape.tie_prone ? 1 + 2 * (tf % 2) : 1 + tf);
            }
        }
        if (list.empty()) {
            list.emplace_back(shape.docs / 2, 1);
        }
        table.lists.push_back(std::move(list));
        table.weights.push_back(weight(random));
    }
    return table;
}

void expect_top_k_of_random_tables(const Shape& shape) {
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        std::mt19937 random(seed);
        const Table table = random_table(shape, random);
        for (const std::size_t k :
             {std::size_t{1}, std::size_t{2}, std::size_t{10}, std::size_t{shape.docs} + 1}) {
            for (const bool loose : {false, true}) {
                SCOPED_TRACE("seed " + std::to_string(seed) + ", k " + std::to_string(k) +
                             (loose ? ", loose bounds" : ""));
                expect_top_k(table, k, loose);
                if (::testing::Test::HasFatalFailure()) {
                    return;
                }
            }
        }
    }
}

TEST(MaxScore, FindsTheExactTopKOfRandomTables) {
    expect_top_k_of_random_tables({40, {0.3}, 0.5, 2.0});
    expect_top_k_of_random_tables({60, {0.5, 0.2, 0.05}, 0.1, 3.0});
    expect_top_k_of_random_tables({3000, {0.9, 0.3, 0.05, 0.01, 0.5}, 0.1, 3.0});
    expect_top_k_of_random_tables({20000, {0.6, 0.1, 0.002, 0.3}, 0.05, 5.0});
    expect_top_k_of_random_tables(
        {5000, {0.4, 0.01, 0.2, 0.001, 0.7, 0.05, 0.1, 0.3, 0.02, 0.6, 0.003, 0.15}, 0.1, 2.0});
}

TEST(MaxScore, FindsTheExactTopKWhenScoresTie) {
    expect_top_k_of_random_tables({200, {0.5, 0.3}, 1.0, 1.0, true});
    expect_top_k_of_random_tables({4000, {0.8, 0.2, 0.02}, 1.0, 1.0, true});
    expect_top_k_of_random_tables({4000, {0.8, 0.2, 0.02, 0.5}, 0.5, 1.5, true});
}

TEST(MaxScore, FindsTheExactTopKWithNegativeWeights) {
    expect_top_k_of_random_tables({300, {0.5, 0.2, 0.1}, -2.0, 2.0});
    expect_top_k_of_random_tables({6000, {0.7, 0.05, 0.3, 0.01}, -1.0, 3.0});
    expect_top_k_of_random_tables({6000, {0.7, 0.05, 0.3, 0.01}, -3.0, 1.0});
    expect_top_k_of_random_tables({300, {0.5, 0.2, 0.1}, -2.0, -0.1});
    expect_top_k_of_random_tables({6000, {0.02, 0.4, 0.9}, -2.0, -0.1});
    expect_top_k_of_random_tables({3000, {0.6, 0.3}, -1.0, -1.0, true});
}

TEST(MaxScore, LooksUpACommonTermBlockByBlock) {
    std::mt19937 random(17);
    std::uniform_real_distribution<double> normaliser(0.5, 2.0);
    std::uniform_int_distribution<std::uint32_t> frequency(1, 5);
    Table table;
    Postings common;
    for (std::uint32_t doc = 0; doc < 5000; ++doc) {
        table.normalisers.push_back(normaliser(random));
        common.emplace_back(doc, frequency(random));
    }
    // The common term first: the plan must not depend on the terms' order.
    // Documents that open a block of the common term, and the last one.
    table.lists = {common, {{0, 4}, {512, 7}, {2600, 6}, {4999, 5}}};
    table.weights = {0.1, 10.0};
    for (std::size_t k = 1; k <= 4; ++k) {
        SCOPED_TRACE(k);
        MemoryStore store(table.lists);
        candidates(table, k, store);
        EXPECT_EQ(store.calls[0].all, 0U);
        EXPECT_GE(store.calls[0].keys, 1U);
        EXPECT_LE(store.calls[0].some_blocks, 4U);
        expect_top_k(table, k);
    }
}

TEST(MaxScore, ReadsFurtherWhenTheHeaviestTermHasFewerThanKDocuments) {
    // The heaviest term (last) holds two documents, the next one a strong and
    // a middling one; the lightest, read last, outranks the middling one.
    Table table;
    table.normalisers = {1.0, 1.0, 3.0, 1.0, 1.0, 1.0};
    table.lists = {{{4, 99}, {5, 99}}, {{2, 7}, {3, 99}}, {{0, 10}, {1, 10}}};
    table.weights = {4.0, 5.0, 10.0};
    for (std::size_t k = 1; k <= 7; ++k) {
        SCOPED_TRACE(k);
        expect_top_k(table, k);
    }
}

TEST(MaxScore, RefusesNoResultsAndAnswersNoTerms) {
    const Table table = {{1.0, 1.0}, {{{0, 1}, {1, 2}}}, {1.0}};
    MemoryStore store(table.lists);
    EXPECT_THROW(candidates(table, 0, store), std::invalid_argument);
    EXPECT_TRUE(max_score_candidates({}, 3, {table.normalisers.data(), 2}, store).empty());
    EXPECT_TRUE(max_score_candidates({}, 3, {}, store).empty());
}

// A document past the normalisers in a block that is only looked up: it
// shares the block with a probed one.
Table stray_in_looked_up_block() {
    Table table;
    table.normalisers.assign(4999, 1.0);
    Postings common;
    for (std::uint32_t doc = 0; doc < 5000; ++doc) {
        common.emplace_back(doc, 1);
    }
    table.lists = {common, {{4990, 3}}};
    table.weights = {0.1, 10.0};
    return table;
}

TEST(MaxScore, RefusesAPostingOfADocumentWithoutANormaliser) {
    const Table read_in_full = {{1.0, 1.0}, {{{0, 1}, {2, 1}}}, {1.0}};
    MemoryStore store(read_in_full.lists);
    EXPECT_THROW(candidates(read_in_full, 1, store), std::invalid_argument);
    // Unchecked, its weight would be read from past the normalisers' end.
    const Table looked_up = stray_in_looked_up_block();
    MemoryStore larger(looked_up.lists);
    EXPECT_THROW(candidates(looked_up, 1, larger), std::invalid_argument);
    EXPECT_EQ(larger.calls[0].all, 0U);
}

TEST(MaxScore, PassesOverThePostingsOfRemovedDocuments) {
    // The best documents are removed too: were any of them kept, it would
    // outrank the live ones, and a k-th score it set would drop live ones.
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        std::mt19937 random(seed);
        const Table stored = random_table({3000, {0.6, 0.2, 0.01}, -0.5, 3.0}, random);
        std::vector<Scored> best = brute_force(stored);
        sort_best_first(best);
        std::set<std::uint32_t> removed;
        for (std::size_t i = 0; i < 20; ++i) {
            removed.insert(best[i].doc);
        }
        std::bernoulli_distribution chosen(0.25);
        for (std::uint32_t doc = 0; doc < 3000; ++doc) {
            if (chosen(random)) {
                removed.insert(doc);
            }
        }
        Table live = stored;
        for (const std::uint32_t doc : removed) {
            live.normalisers[doc] = std::numeric_limits<double>::quiet_NaN();
        }
        for (Postings& list : live.lists) {
            list.erase(std::remove_if(list.begin(), list.end(),
                                      [&removed](const auto& posting) {
                                          return removed.count(posting.first) != 0;
                                      }),
                       list.end());
            ASSERT_FALSE(list.empty());
        }
        for (const std::size_t k : {std::size_t{1}, std::size_t{10}, std::size_t{3000}}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", k " + std::to_string(k));
            expect_top_k(live, k, false, nullptr, &stored.lists);
            expect_top_k(live, k, true, nullptr, &stored.lists);
        }
    }
}

TEST(MaxScore, OnePlanAnswersQueryAfterQuery) {
    // Large and small, more terms and fewer, a refused query in between:
    // nothing one query learnt may leak into the next.
    const Shape shapes[] = {{20000, {0.6, 0.1, 0.002, 0.3}, 0.05, 5.0},
                            {60, {0.5}, 0.5, 2.0},
                            {3000, {0.9, 0.3, 0.05, 0.01, 0.5, 0.2}, -1.0, 3.0},
                            {4000, {0.8, 0.2}, 1.0, 1.0, true},
                            {6000, {0.02, 0.4, 0.9}, -2.0, -0.1}};
    std::mt19937 random(23);
    MaxScore plan;
    const Table stray = stray_in_looked_up_block();
    for (int round = 0; round < 3; ++round) {
        for (const Shape& shape : shapes) {
            const Table table = random_table(shape, random);
            for (const std::size_t k : {std::size_t{1}, std::size_t{10}, std::size_t{100}}) {
                SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(shape.docs) +
                             " documents, k " + std::to_string(k));
                expect_top_k(table, k, false, &plan);
            }
            MemoryStore store(stray.lists);
            EXPECT_THROW(candidates(stray, 1, store, false, &plan), std::invalid_argument);
        }
    }
}

}  // namespace
}  // namespace vorn::typing::text
