#pragma once
// The text of a model file, written member by member through the JSON
// library's object writer straight from the statistics. A million tokens in a
// tree would cost a million nodes and strings that exist only to be printed
// once, and the text as a whole as much again; here the tokens are only put
// in key order, and the text passes through one reused buffer.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "bm25/file_writer.h"
#include "bm25/large_allocator.h"
#include "bm25/token_table.h"

namespace vorn::typing::text {

struct ModelStatistics {
    double b;
    double k1;
    std::int32_t doc_count;
    double doc_length_average;
};

class ModelText {
  public:
    // Puts the table's keys (escaped, see key_of_token) in ascending byte
    // order and makes room for the writing, so that write() allocates
    // nothing. The table must outlive this object and stay unchanged.
    ModelText(const ModelStatistics& statistics, const TokenTable& table);

    // Hands the whole text to `sink` in pieces of about kPieceSize bytes.
    // May run any number of times.
    void write(const ContentSink& sink) const;

    // The whole text in one string.
    std::string str() const;

    static constexpr std::size_t kPieceSize = std::size_t{1} << 20;

  private:
    // A table entry in key order: the first eight bytes of its key decide
    // most comparisons (see token_order.h).
    struct Ordered {
        std::uint64_t prefix;
        // The entry's handle, or kEscaped | its position in escaped_ for a
        // key that is not the token.
        std::uint64_t member;
    };
    static constexpr std::uint64_t kEscaped = std::uint64_t{1} << 63U;
    struct EscapedKey {
        std::string key;
        TokenTable::Handle handle;
    };

    std::string_view key_of(const Ordered& member) const;
    TokenTable::Handle handle_of(const Ordered& member) const;

    ModelStatistics statistics_;
    const TokenTable& table_;
    std::vector<Ordered, LargeAllocator<Ordered>> order_;
    std::deque<EscapedKey> escaped_;  // the keys of tokens that need escapes, which are rare
    mutable std::string buffer_;
};

}  // namespace vorn::typing::text
