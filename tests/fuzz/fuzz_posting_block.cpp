// Decodes arbitrary bytes as a posting block (a database's blobs are input:
// a damaged or hostile file reaches the decoder). The first two bytes give
// the length of the documents' blob; the frequencies' blob is the rest. Beyond memory and
// undefined-behaviour faults it checks that whatever decodes comes back the
// same through the encoder, and that one decoder serves block after block.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "search/posting_block.h"

using vorn::typing::text::BlockDecoder;
using vorn::typing::text::encode_block;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::size_t split = std::min<std::size_t>(data[0] | (data[1] << 8U), input.size());
    static BlockDecoder decoder;  // reused, as a query reuses it
    std::vector<std::uint32_t> docs;
    std::vector<std::uint32_t> tfs;
    try {
        decoder.decode(input.substr(0, split), input.substr(split), docs, tfs);
    } catch (const std::invalid_argument&) {
        return 0;
    }
    if (docs.empty() || docs.size() != tfs.size()) {
        std::abort();
    }
    const auto [docs_blob, tfs_blob] = encode_block(docs, tfs);
    std::vector<std::uint32_t> again_docs;
    std::vector<std::uint32_t> again_tfs;
    decoder.decode(docs_blob, tfs_blob, again_docs, again_tfs);
    if (again_docs != docs || again_tfs != tfs) {
        std::abort();
    }
    return 0;
}
