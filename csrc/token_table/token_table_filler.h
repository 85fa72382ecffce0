#pragma once
// Fills an empty token table with a number of tokens known beforehand, as
// load does. Records are written in the tokens' own order; their slots wait
// in chunks and are placed in the order of the slots, so that the slot array
// is written front to back instead of at one random cache line per token.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "token_table/token_table.h"

namespace vorn::typing::text {

class TokenTableFiller {
  public:
    // Whether a table holding `count` tokens is small enough for a slot's
    // kept tag to tell its home, which placing in order relies on.
    static bool fits(std::size_t count);

    // Slots wait in chunks of about a 32nd of the tokens, from 8Ki to 64Ki:
    // enough to keep the writes close together in a slot array of millions,
    // in buffers that cost a small table little memory it must fault in.
    static constexpr std::size_t kMinChunk = std::size_t{1} << 13;
    static constexpr std::size_t kMaxChunk = std::size_t{1} << 16;

    // `table` must be empty and `count` must fit; the table is sized for it.
    TokenTableFiller(TokenTable& table, std::size_t count);
    // The same with chunks of `chunk` slots.
    TokenTableFiller(TokenTable& table, std::size_t count, std::size_t chunk);

    // False when a token came before (the table is then empty again, and
    // the filler spent): its second record would stay behind in the table.
    bool add(std::string_view token, std::uint64_t hash, std::int32_t count);
    // Places what waits; false as add.
    bool finish();

  private:
    bool place_chunk();
    bool give_up();

    TokenTable& table_;
    unsigned order_bits_;  // log2 of the table's number of slots
    std::size_t chunk_size_;
    std::vector<std::uint64_t> chunk_;
    std::vector<std::uint64_t> spare_;
};

}  // namespace vorn::typing::text
