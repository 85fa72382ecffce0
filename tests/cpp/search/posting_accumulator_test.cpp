// The accumulator against a plain model of it: every posting lands in one
// block of its word, in document order, blocks full but for each word's last,
// counts that add up, and memory given back at the limit.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

#include "search/posting_accumulator.h"
#include "search/posting_block.h"

namespace vorn::typing::text {
namespace {

using Postings = std::vector<std::pair<std::uint32_t, std::uint32_t>>;  // (doc, tf)

// Decodes blocks back into postings by token, checking each block's counts.
void collect(const std::vector<BlockRow>& rows, const std::vector<std::uint32_t>& lengths,
             std::uint32_t first_doc, std::map<std::uint32_t, Postings>& into) {
    BlockDecoder decoder;
    for (const BlockRow& row : rows) {
        std::vector<std::uint32_t> docs;
        std::vector<std::uint32_t> tfs;
        decoder.decode(row.docs_blob, row.tfs_blob, docs, tfs);
        ASSERT_FALSE(docs.empty());
        EXPECT_LE(docs.size(), kBlockPostings);
        EXPECT_EQ(row.first_doc, docs.front());
        EXPECT_EQ(row.postings, docs.size());
        std::uint64_t occurrences = 0;
        std::uint32_t max_tf = 0;
        std::uint32_t min_length = UINT32_MAX;
        for (std::size_t i = 0; i < docs.size(); ++i) {
            occurrences += tfs[i];
            max_tf = std::max(max_tf, tfs[i]);
            min_length = std::min(min_length, lengths.at(docs[i] - first_doc));
            into[row.token].emplace_back(docs[i], tfs[i]);
        }
        EXPECT_EQ(row.occurrences, occurrences);
        EXPECT_EQ(row.max_tf, max_tf);
        EXPECT_EQ(row.min_length, min_length);
    }
}

TEST(PostingAccumulator, EveryPostingLandsOnceInDocumentOrderWhateverTheBatchesAndLimit) {
    std::mt19937 random(11);
    for (const std::size_t limit : {std::size_t{1}, std::size_t{700}, std::size_t{1} << 30}) {
        for (const std::size_t batch : {1, 7, 5000}) {
            const std::uint32_t first_doc = 40;
            PostingAccumulator accumulator(first_doc, limit);
            std::map<std::uint32_t, Postings> expected;
            std::map<std::uint32_t, Postings> got;
            std::vector<BlockRow> rows;
            std::uint32_t doc = first_doc;
            for (int i = 0; i < 3000; ++i) {
                doc +=
                    1 + static_cast<std::uint32_t>(random() % 3);  // gaps: documents with no words
                // Token 0 is in every document: its list spans many batches and blocks.
                std::vector<std::uint32_t> words(1 + random() % 12);
                for (auto& word : words) {
                    word = random() % 4 == 0 ? 0 : static_cast<std::uint32_t>(random() % 300);
                }
                accumulator.add(doc, words.data(), words.size());
                std::map<std::uint32_t, std::uint32_t> counts;
                for (const auto word : words) {
                    ++counts[word];
                }
                for (const auto& [word, tf] : counts) {
                    expected[word].emplace_back(doc, tf);
                }
                if (i % batch == batch - 1) {
                    for (BlockRow& row : accumulator.end_batch()) {
                        rows.push_back(std::move(row));
                    }
                }
            }
            for (BlockRow& row : accumulator.flush()) {
                rows.push_back(std::move(row));
            }
            EXPECT_TRUE(accumulator.flush().empty());
            const auto& lengths = accumulator.lengths();
            ASSERT_EQ(lengths.size(), doc - first_doc + 1);
            collect(rows, lengths, first_doc, got);
            // Per token, blocks come in document order, so the concatenation is the list.
            EXPECT_EQ(got, expected) << "limit " << limit << ", batch " << batch;
            if (limit > 100000) {
                // Below the limit only each word's last block is short.
                std::map<std::uint32_t, int> short_blocks;
                for (const BlockRow& row : rows) {
                    short_blocks[row.token] += row.postings < kBlockPostings ? 1 : 0;
                }
                for (const auto& [token, count] : short_blocks) {
                    EXPECT_LE(count, 1) << token;
                }
            }
        }
    }
}

TEST(PostingAccumulator, LengthsCountRepeatsAndLeaveGapsAtZero) {
    PostingAccumulator accumulator(1, 1000);
    const std::vector<std::uint32_t> words = {5, 5, 5, 2};
    accumulator.add(1, words.data(), words.size());
    accumulator.add(4, words.data(), 1);
    EXPECT_EQ(accumulator.lengths(), (std::vector<std::uint32_t>{4, 0, 0, 1}));
    const std::vector<BlockRow> rows = accumulator.flush();
    ASSERT_EQ(rows.size(), 2U);  // token 2, then token 5
    EXPECT_EQ(rows[0].token, 2U);
    EXPECT_EQ(rows[1].token, 5U);
    EXPECT_EQ(rows[1].occurrences, 4U);
    EXPECT_EQ(rows[1].max_tf, 3U);
    EXPECT_EQ(rows[1].min_length, 1U);
}

TEST(PostingAccumulator, RefusesDocumentsOutOfTurn) {
    PostingAccumulator accumulator(10, 1000);
    const std::uint32_t word = 1;
    EXPECT_THROW(accumulator.add(9, &word, 1), std::invalid_argument);
    accumulator.add(12, &word, 1);
    EXPECT_THROW(accumulator.add(12, &word, 1), std::invalid_argument);
    EXPECT_THROW(accumulator.add(11, &word, 1), std::invalid_argument);
    accumulator.add(13, nullptr, 0);  // a document without words still takes its number
    EXPECT_EQ(accumulator.lengths(), (std::vector<std::uint32_t>{0, 0, 1, 0}));
}

}  // namespace
}  // namespace vorn::typing::text
