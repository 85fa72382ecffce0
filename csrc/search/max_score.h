#pragma once
// The exact top k of a query by inner product over posting blocks, found by
// max-score: a term's contribution to any document lies between the query
// weight times its smallest and largest stored weight, so the terms with the
// largest possible contributions are read in full ("essential") and the
// others only looked up for the documents found that way that can still
// reach the top k. Bounds are compared with a margin far wider than any
// rounding of the sums, and the candidates' scores are summed exactly as a
// brute-force ranking sums them: in term order, query weight x document
// weight, a term that a document lacks adding weight x 0.0.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vorn::typing::text {

// A query word that the index holds, as the plan needs it.
struct QueryTerm {
    double weight = 0.0;         // the query weight
    double low = 0.0;            // smallest contribution of the term where present
    double high = 0.0;           // largest contribution of the term where present
    std::uint64_t postings = 0;  // its list's length
};

// Blocks as the database holds them: (documents blob, frequencies blob).
using BlockRows = std::vector<std::pair<std::string, std::string>>;

// Where the plan reads a term's blocks, keyed by their first document.
class PostingStore {
  public:
    PostingStore() = default;
    PostingStore(const PostingStore&) = delete;
    PostingStore& operator=(const PostingStore&) = delete;
    PostingStore(PostingStore&&) = delete;
    PostingStore& operator=(PostingStore&&) = delete;
    virtual ~PostingStore() = default;

    // Every block of the term, in key order.
    virtual BlockRows all_blocks(std::size_t term) = 0;
    // The keys of the term's blocks, ascending.
    virtual std::vector<std::uint32_t> block_keys(std::size_t term) = 0;
    // The term's blocks with these keys (ascending), in key order.
    virtual BlockRows blocks(std::size_t term, const std::vector<std::uint32_t>& keys) = 0;
};

// Every document's length normaliser K of BM25 by number: a posting of a
// word that occurs tf times weighs tf / (tf + K). A removed document's K is
// NaN: removal leaves its postings in the blocks until they are compacted,
// and with `removed` set they are dropped as blocks are decoded.
struct Normalisers {
    const double* values = nullptr;
    std::size_t size = 0;
    bool removed = false;
};

struct Scored {
    std::uint32_t doc = 0;
    double score = 0.0;
};

// The plan with the buffers it fills, kept from one query to the next so that
// long lists are not allocated and faulted in anew each time (the machine's
// page faults cost as much as the decoding). One query at a time.
class MaxScore {
  public:
    MaxScore();
    ~MaxScore();
    MaxScore(const MaxScore&) = delete;
    MaxScore& operator=(const MaxScore&) = delete;
    MaxScore(MaxScore&&) = delete;
    MaxScore& operator=(MaxScore&&) = delete;

    // See max_score_candidates.
    std::vector<Scored> candidates(const std::vector<QueryTerm>& terms, std::size_t k,
                                   const Normalisers& normalisers, PostingStore& store);

    struct Buffers;

  private:
    std::unique_ptr<Buffers> buffers_;
};

// The documents that can be among the k best, with their exact scores: every
// document of the top k, and those that come within the margin of the k-th
// (the caller breaks ties). Reads as little of the lists as it can.
std::vector<Scored> max_score_candidates(const std::vector<QueryTerm>& terms, std::size_t k,
                                         const Normalisers& normalisers, PostingStore& store);

}  // namespace vorn::typing::text
