#pragma once
// Gathers the postings of new documents by word and cuts them into blocks
// for the database: a word's postings wait in memory until a block is full,
// and everything that waits is cut into shorter blocks once `limit` postings
// wait, so that memory holds at most about `limit` postings (8 bytes each)
// and a length (4 bytes) per document, whatever the corpus.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "search/posting_block.h"

namespace vorn::typing::text {

// A block ready to store, with what it adds to its word's counts.
struct BlockRow {
    std::uint32_t token = 0;
    std::uint32_t first_doc = 0;
    std::string docs_blob;
    std::string tfs_blob;
    std::uint64_t occurrences = 0;  // the sum of its term frequencies
    std::uint32_t postings = 0;
    std::uint32_t max_tf = 0;
    std::uint32_t min_length = 0;  // the fewest words of a document in it
};

class PostingAccumulator {
  public:
    // Documents are numbered from `first_doc` on; blocks hold at most
    // `block` postings (a test makes them small).
    PostingAccumulator(std::uint32_t first_doc, std::size_t limit,
                       std::size_t block = kBlockPostings);

    // A document's words as token ids, in any order (repeats count); numbers
    // ascend from call to call, gaps allowed. std::invalid_argument otherwise.
    void add(std::uint32_t doc, const std::uint32_t* tokens, std::size_t count);

    // The full blocks of the words added to since the last call, or every
    // waiting posting once `limit` wait; by token, then document.
    std::vector<BlockRow> end_batch();

    // Every waiting posting, in blocks, by token, then document.
    std::vector<BlockRow> flush();

    // The lengths of documents first_doc, first_doc + 1, ... (0: none added).
    const std::vector<std::uint32_t>& lengths() const { return lengths_; }

  private:
    struct Waiting {
        std::vector<std::uint32_t> docs;
        std::vector<std::uint32_t> tfs;
    };

    void cut(std::uint32_t token, std::size_t postings, std::vector<BlockRow>& rows);

    std::uint32_t first_doc_;
    std::size_t limit_;
    std::size_t block_;
    std::size_t waiting_count_ = 0;
    std::vector<std::uint32_t> lengths_;
    std::vector<Waiting> waiting_;  // by token id
    std::vector<std::uint32_t> touched_;
    std::vector<bool> is_touched_;
    std::vector<std::uint32_t> sorted_;  // one document's tokens
};

}  // namespace vorn::typing::text
