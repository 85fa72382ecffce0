#pragma once
// The text of a model file, written member by member through the JSON
// library's object writer straight from the statistics. A million tokens in a
// tree would cost a million nodes and strings that exist only to be printed
// once, and the text as a whole as much again; here the tokens' keys are
// only put in order (SortedKeys), and the text passes through one reused
// buffer.

#include <cstdint>
#include <string>

#include "bm25/sorted_keys.h"
#include "platform/file_writer.h"
#include "token_table/token_table.h"

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
    // nothing.
    ModelText(const ModelStatistics& statistics, const TokenTable& table);

    // Hands the whole text to `sink` in pieces of about kPieceSize bytes.
    // May run any number of times.
    void write(const ContentSink& sink) const;

    // The whole text in one string.
    std::string str() const;

    static constexpr std::size_t kPieceSize = std::size_t{1} << 20;

  private:
    ModelStatistics statistics_;
    SortedKeys keys_;
    mutable std::string buffer_;
};

}  // namespace vorn::typing::text
