#include "search/posting_block.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include <libdeflate.h>

namespace vorn::typing::text {

namespace {

constexpr char kAsTheyAre = '\0';
constexpr char kDeflated = '\1';
constexpr char kPacked = '\2';
// Frequencies below this go two to a byte.
constexpr std::uint32_t kHalfByte = 16;

[[noreturn]] void fail_damaged() {
    throw std::invalid_argument("a posting block that does not decode: the file is damaged");
}

[[noreturn]] void fail_lengths() {
    throw std::invalid_argument(
        "a posting block whose arrays differ in length: the file is damaged");
}

[[noreturn]] void fail_order() {
    throw std::invalid_argument(
        "a posting block whose documents do not ascend: the file is damaged");
}

void append_varint(std::string& out, std::uint32_t value) {
    while (value >= 0x80U) {
        out.push_back(static_cast<char>((value & 0x7FU) | 0x80U));
        value >>= 7U;
    }
    out.push_back(static_cast<char>(value));
}

std::string packed_documents(const std::vector<std::uint32_t>& docs) {
    std::string out(1, kPacked);
    out.reserve(1 + 2 * docs.size());
    append_varint(out, docs[0]);
    for (std::size_t i = 1; i < docs.size(); ++i) {
        if (docs[i] <= docs[i - 1]) {
            throw std::invalid_argument("a block's documents must ascend, each once");
        }
        append_varint(out, docs[i] - docs[i - 1]);
    }
    return out;
}

std::string packed_frequencies(const std::vector<std::uint32_t>& tfs) {
    const std::uint32_t largest = *std::max_element(tfs.begin(), tfs.end());
    if (largest < kHalfByte) {
        std::string out(1 + (tfs.size() + 1) / 2, '\0');
        out[0] = kPacked;
        for (std::size_t i = 0; i < tfs.size(); ++i) {
            out[1 + i / 2] = static_cast<char>(static_cast<unsigned char>(out[1 + i / 2]) |
                                               (tfs[i] << (4U * (i % 2))));
        }
        return out;
    }
    const std::size_t width = largest < (1U << 8U) ? 1 : largest < (1U << 16U) ? 2 : 4;
    std::string out(1 + width * tfs.size(), '\0');
    out[0] = kAsTheyAre;
    for (std::size_t i = 0; i < tfs.size(); ++i) {
        for (std::size_t byte = 0; byte < width; ++byte) {
            out[1 + i * width + byte] = static_cast<char>((tfs[i] >> (8 * byte)) & 0xFFU);
        }
    }
    return out;
}

std::uint32_t little_endian(const unsigned char* bytes, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = width; i-- > 0;) {
        value = (value << 8U) | bytes[i];
    }
    return value;
}

// The varint at `bytes`, which moves past it.
std::uint32_t next_varint(const unsigned char*& bytes, const unsigned char* end) {
    std::uint32_t value = *bytes++;
    if (value < 0x80U) {
        return value;
    }
    value &= 0x7FU;
    for (unsigned shift = 7;; shift += 7) {
        if (bytes == end) {
            fail_damaged();
        }
        const std::uint32_t byte = *bytes++;
        // The fifth byte holds the top four bits and ends the number.
        if (shift == 28 && byte > 0x0FU) {
            fail_damaged();
        }
        value |= (byte & 0x7FU) << shift;
        if (byte < 0x80U) {
            return value;
        }
    }
}

// Appends the documents of a packed blob's bytes; returns how many.
std::size_t read_varints(std::string_view data, std::vector<std::uint32_t>& docs) {
    if (data.empty()) {
        return 0;
    }
    const std::size_t start = docs.size();
    docs.resize(start + data.size());  // a document takes at least a byte
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    const unsigned char* const end = bytes + data.size();
    std::uint32_t* out = docs.data() + start;
    try {
        std::uint32_t doc = next_varint(bytes, end);
        *out++ = doc;
        while (bytes != end) {
            const std::uint32_t distance = next_varint(bytes, end);
            if (distance == 0 || distance > std::numeric_limits<std::uint32_t>::max() - doc) {
                fail_order();
            }
            doc += distance;
            *out++ = doc;
        }
    } catch (...) {
        docs.resize(start);
        throw;
    }
    const auto count = static_cast<std::size_t>(out - (docs.data() + start));
    docs.resize(start + count);
    return count;
}

}  // namespace

std::pair<std::string, std::string> encode_block(const std::vector<std::uint32_t>& docs,
                                                 const std::vector<std::uint32_t>& tfs) {
    if (docs.size() != tfs.size() || docs.empty()) {
        throw std::invalid_argument("a block needs one frequency for each of its documents");
    }
    return {packed_documents(docs), packed_frequencies(tfs)};
}

BlockDecoder::BlockDecoder() : decompressor_(libdeflate_alloc_decompressor()) {
    if (decompressor_ == nullptr) {
        throw std::bad_alloc();
    }
}

BlockDecoder::~BlockDecoder() { libdeflate_free_decompressor(decompressor_); }

std::string_view BlockDecoder::unsqueezed(std::string_view blob, std::string& buffer) {
    if (blob.empty() || (blob[0] != kAsTheyAre && blob[0] != kDeflated)) {
        fail_damaged();
    }
    const std::string_view data = blob.substr(1);
    if (blob[0] == kAsTheyAre) {
        return data;
    }
    // The buffer keeps its size between blocks: growing it zeroes the new
    // bytes, and a block's worth is written anew each time anyway.
    if (buffer.size() < 4 * data.size() || buffer.size() < 4096) {
        buffer.resize(std::max<std::size_t>(4 * data.size(), 4096));
    }
    for (;;) {
        std::size_t produced = 0;
        const libdeflate_result result = libdeflate_zlib_decompress(
            decompressor_, data.data(), data.size(), buffer.data(), buffer.size(), &produced);
        if (result == LIBDEFLATE_SUCCESS) {
            return {buffer.data(), produced};
        }
        // Deflate shrinks data at most about a thousandfold.
        if (result != LIBDEFLATE_INSUFFICIENT_SPACE || buffer.size() > 1100 * data.size()) {
            fail_damaged();
        }
        buffer.resize(2 * buffer.size());
    }
}

void BlockDecoder::decode_frequencies(std::string_view blob, std::size_t count,
                                      std::vector<std::uint32_t>& tfs) {
    if (count == 0) {
        fail_lengths();
    }
    if (!blob.empty() && blob[0] == kPacked) {
        const std::string_view data = blob.substr(1);
        if (data.size() != (count + 1) / 2 ||
            (count % 2 == 1 && (static_cast<unsigned char>(data.back()) >> 4U) != 0)) {
            fail_lengths();
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
        const std::size_t start = tfs.size();
        tfs.resize(start + count);
        for (std::size_t i = 0; i < count; ++i) {
            tfs[start + i] = (bytes[i / 2] >> (4U * (i % 2))) & 0x0FU;
        }
        return;
    }
    const std::string_view frequencies = unsqueezed(blob, frequencies_);
    const std::size_t width = frequencies.size() / count;
    if ((width != 1 && width != 2 && width != 4) || frequencies.size() != width * count) {
        fail_lengths();
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(frequencies.data());
    const std::size_t start = tfs.size();
    tfs.resize(start + count);
    if (width == 1) {  // a loop the compiler can widen
        std::copy(bytes, bytes + count, tfs.begin() + static_cast<std::ptrdiff_t>(start));
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        tfs[start + i] = little_endian(bytes + i * width, width);
    }
}

void BlockDecoder::decode(std::string_view docs_blob, std::string_view tfs_blob,
                          std::vector<std::uint32_t>& docs, std::vector<std::uint32_t>& tfs) {
    const std::size_t start = docs.size();
    if (tfs.size() != start) {
        throw std::invalid_argument("decode appends to documents and frequencies alike");
    }
    std::size_t count = 0;
    if (!docs_blob.empty() && docs_blob[0] == kPacked) {
        count = read_varints(docs_blob.substr(1), docs);
        if (count == 0) {
            fail_lengths();
        }
    } else {
        const std::string_view planes = unsqueezed(docs_blob, planes_);
        if (planes.size() % 4 != 0 || planes.empty()) {
            fail_lengths();
        }
        count = planes.size() / 4;
        const auto* plane = reinterpret_cast<const unsigned char*>(planes.data());
        docs.resize(start + count);
        for (std::size_t i = 0; i < count; ++i) {
            docs[start + i] = static_cast<std::uint32_t>(plane[i]) |
                              (static_cast<std::uint32_t>(plane[count + i]) << 8U) |
                              (static_cast<std::uint32_t>(plane[2 * count + i]) << 16U) |
                              (static_cast<std::uint32_t>(plane[3 * count + i]) << 24U);
            if (i > 0 && docs[start + i] <= docs[start + i - 1]) {
                docs.resize(start);
                fail_order();
            }
        }
    }
    try {
        decode_frequencies(tfs_blob, count, tfs);
    } catch (...) {
        docs.resize(start);
        tfs.resize(start);
        throw;
    }
}

}  // namespace vorn::typing::text
