#pragma once
// Posting blocks: the postings of one word for a run of documents, stored as
// two blobs in one database row. Document numbers (unsigned 32-bit) are kept
// byte plane by byte plane (every number's lowest byte, then every second
// byte, ...), so that the repeated high bytes of ascending numbers deflate to
// almost nothing; term frequencies in the narrowest of 1, 2 or 4 bytes that
// holds the block's largest; both little-endian. Each blob is a tag byte and
// the bytes: 0 as they are, 1 deflated (the zlib format), which is chosen
// when it makes them shorter. A block's count is its documents' bytes over four, and the
// frequencies' width their bytes over the count.

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

// The two blobs of a block: documents ascending, one frequency each.
std::pair<std::string, std::string> encode_block(const std::vector<std::uint32_t>& docs,
                                                 const std::vector<std::uint32_t>& tfs);

// Reads blocks with libdeflate, which inflates whole buffers in about half
// zlib's time (inflating is most of a query's), reusing one decompressor.
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

    libdeflate_decompressor* decompressor_;
    std::string planes_;
    std::string frequencies_;
};

}  // namespace vorn::typing::text
