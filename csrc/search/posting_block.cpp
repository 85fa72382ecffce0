#include "search/posting_block.h"

#include <algorithm>
#include <stdexcept>

#include <libdeflate.h>
#include <zlib.h>

namespace vorn::typing::text {

namespace {

// Shorter data is stored as it is: deflate's own header would eat what it saves.
constexpr std::size_t kDeflateFrom = 64;

[[noreturn]] void fail_damaged() {
    throw std::invalid_argument("a posting block that does not decode: the file is damaged");
}

[[noreturn]] void fail_lengths() {
    throw std::invalid_argument(
        "a posting block whose arrays differ in length: the file is damaged");
}

std::string squeezed(const std::string& data) {
    if (data.size() >= kDeflateFrom) {
        uLongf size = compressBound(static_cast<uLong>(data.size()));
        std::string deflated(size + 1, '\1');
        const auto* source = reinterpret_cast<const Bytef*>(data.data());
        auto* target = reinterpret_cast<Bytef*>(&deflated[1]);
        if (compress2(target, &size, source, static_cast<uLong>(data.size()), 1) == Z_OK &&
            size < data.size()) {
            deflated.resize(size + 1);
            return deflated;
        }
    }
    std::string plain(1, '\0');
    plain += data;
    return plain;
}

std::uint32_t little_endian(const unsigned char* bytes, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = width; i-- > 0;) {
        value = (value << 8U) | bytes[i];
    }
    return value;
}

}  // namespace

std::pair<std::string, std::string> encode_block(const std::vector<std::uint32_t>& docs,
                                                 const std::vector<std::uint32_t>& tfs) {
    if (docs.size() != tfs.size() || docs.empty()) {
        throw std::invalid_argument("a block needs one frequency for each of its documents");
    }
    const std::size_t count = docs.size();
    std::string planes(4 * count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t plane = 0; plane < 4; ++plane) {
            planes[plane * count + i] = static_cast<char>((docs[i] >> (8 * plane)) & 0xFFU);
        }
    }
    const std::uint32_t largest = *std::max_element(tfs.begin(), tfs.end());
    const std::size_t width = largest < (1U << 8U) ? 1 : largest < (1U << 16U) ? 2 : 4;
    std::string frequencies(width * count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t byte = 0; byte < width; ++byte) {
            frequencies[i * width + byte] = static_cast<char>((tfs[i] >> (8 * byte)) & 0xFFU);
        }
    }
    return {squeezed(planes), squeezed(frequencies)};
}

BlockDecoder::BlockDecoder() : decompressor_(libdeflate_alloc_decompressor()) {
    if (decompressor_ == nullptr) {
        throw std::bad_alloc();
    }
}

BlockDecoder::~BlockDecoder() { libdeflate_free_decompressor(decompressor_); }

std::string_view BlockDecoder::unsqueezed(std::string_view blob, std::string& buffer) {
    if (blob.empty() || (blob[0] != '\0' && blob[0] != '\1')) {
        fail_damaged();
    }
    const std::string_view data = blob.substr(1);
    if (blob[0] == '\0') {
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

void BlockDecoder::decode(std::string_view docs_blob, std::string_view tfs_blob,
                          std::vector<std::uint32_t>& docs, std::vector<std::uint32_t>& tfs) {
    const std::string_view planes = unsqueezed(docs_blob, planes_);
    const std::string_view frequencies = unsqueezed(tfs_blob, frequencies_);
    if (planes.size() % 4 != 0 || planes.empty()) {
        fail_lengths();
    }
    const std::size_t count = planes.size() / 4;
    const std::size_t width = frequencies.size() / count;
    if ((width != 1 && width != 2 && width != 4) || frequencies.size() != width * count) {
        fail_lengths();
    }
    const auto* plane = reinterpret_cast<const unsigned char*>(planes.data());
    const std::size_t start = docs.size();
    if (tfs.size() != start) {
        throw std::invalid_argument("decode appends to documents and frequencies alike");
    }
    docs.resize(start + count);
    for (std::size_t i = 0; i < count; ++i) {
        docs[start + i] = static_cast<std::uint32_t>(plane[i]) |
                          (static_cast<std::uint32_t>(plane[count + i]) << 8U) |
                          (static_cast<std::uint32_t>(plane[2 * count + i]) << 16U) |
                          (static_cast<std::uint32_t>(plane[3 * count + i]) << 24U);
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(frequencies.data());
    tfs.resize(start + count);
    if (width == 1) {  // the usual case: a loop the compiler can widen
        std::copy(bytes, bytes + count, tfs.begin() + static_cast<std::ptrdiff_t>(start));
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        tfs[start + i] = little_endian(bytes + i * width, width);
    }
}

}  // namespace vorn::typing::text
