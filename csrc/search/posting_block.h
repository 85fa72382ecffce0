#pragma once
// Posting blocks: the postings of one word for a run of documents, stored as
// two blobs in one database row. Each blob is a tag byte and the bytes.
// Documents (unsigned 32-bit, strictly ascending), tag 2: LEB128 varints,
// the first document, then each one's distance from the one before (at
// least 1). Frequencies, tag 2: two to a byte, the first in the low four
// bits, when every one is below 16 (a last odd half byte is zero); else tag
// 0: each in the narrowest of 1, 2 or 4 bytes that holds the block's
// largest, little-endian. A block's count is the number of its documents.
// Earlier layouts wrote documents byte plane by byte plane (every number's
// lowest byte, then every second byte, ...), tag 0 as they are and tag 1
// deflated (the zlib format), and frequencies with tag 0 or 1: the decoder
// reads those too.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// libdeflate's decompressor, known here by name only: its header stays with
// the decoder's source.
struct libdeflate_decompressor;

namespace vorn::typing::text {

// Postings per block: looking up a few documents of a long list reads a few
// blocks, not the list.
inline constexpr std::size_t kBlockPostings = 512;

// The two blobs of a block: documents strictly ascending, one frequency
// each (std::invalid_argument otherwise).
std::pair<std::string, std::string> encode_block(const std::vector<std::uint32_t>& docs,
                                                 const std::vector<std::uint32_t>& tfs);

// Reads blocks of every tag; the deflated ones of earlier layouts with
// libdeflate, reusing one decompressor.
class BlockDecoder {
  public:
    BlockDecoder();
    ~BlockDecoder();
    BlockDecoder(const BlockDecoder&) = delete;
    BlockDecoder& operator=(const BlockDecoder&) = delete;
    BlockDecoder(BlockDecoder&&) = delete;
    BlockDecoder& operator=(BlockDecoder&&) = delete;

    // Appends the block's documents and frequencies; std::invalid_argument
    // when the blobs do not decode to a block.
    void decode(std::string_view docs_blob, std::string_view tfs_blob,
                std::vector<std::uint32_t>& docs, std::vector<std::uint32_t>& tfs);

  private:
    std::string_view unsqueezed(std::string_view blob, std::string& buffer);
    void decode_frequencies(std::string_view blob, std::size_t count,
                            std::vector<std::uint32_t>& tfs);

    libdeflate_decompressor* decompressor_;
    std::string planes_;
    std::string frequencies_;
};

}  // namespace vorn::typing::text
