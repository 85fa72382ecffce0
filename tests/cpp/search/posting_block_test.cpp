#include "search/posting_block.h"

#include <gtest/gtest.h>
#include <libdeflate.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vorn::typing::text {
namespace {

using Numbers = std::vector<std::uint32_t>;

struct Block {
    Numbers docs;
    Numbers tfs;
};

Block decoded(BlockDecoder& decoder, const std::pair<std::string, std::string>& blobs) {
    Block block;
    decoder.decode(blobs.first, blobs.second, block.docs, block.tfs);
    return block;
}

void expect_round_trip(const Numbers& docs, const Numbers& tfs) {
    BlockDecoder decoder;
    const Block block = decoded(decoder, encode_block(docs, tfs));
    EXPECT_EQ(block.docs, docs);
    EXPECT_EQ(block.tfs, tfs);
}

// Ascending distinct documents drawn from [0, range).
Numbers random_docs(std::mt19937& random, std::size_t count, std::uint32_t range) {
    std::uniform_int_distribution<std::uint32_t> draw(0, range - 1);
    std::set<std::uint32_t> docs;
    while (docs.size() < count) {
        docs.insert(draw(random));
    }
    return {docs.begin(), docs.end()};
}

Numbers random_tfs(std::mt19937& random, std::size_t count, std::uint32_t largest) {
    std::uniform_int_distribution<std::uint32_t> draw(1, largest);
    Numbers tfs(count);
    for (std::uint32_t& tf : tfs) {
        tf = draw(random);
    }
    return tfs;
}

// first, first + step, ...
Numbers spaced(std::size_t count, std::uint32_t first, std::uint32_t step) {
    Numbers docs(count);
    for (std::size_t i = 0; i < count; ++i) {
        docs[i] = first + static_cast<std::uint32_t>(i) * step;
    }
    return docs;
}

// A blob as earlier layouts wrote it: documents byte plane by byte plane,
// frequencies in `width` bytes, each deflated (zlib format) or as it is.
std::string earlier_blob(const std::string& bytes, bool deflate) {
    if (!deflate) {
        return '\0' + bytes;
    }
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(1);
    std::string out(1 + libdeflate_zlib_compress_bound(compressor, bytes.size()), '\1');
    const std::size_t size =
        libdeflate_zlib_compress(compressor, bytes.data(), bytes.size(), &out[1], out.size() - 1);
    libdeflate_free_compressor(compressor);
    out.resize(1 + size);
    return out;
}

std::pair<std::string, std::string> earlier_block(const Numbers& docs, const Numbers& tfs,
                                                  std::size_t width, bool deflate) {
    std::string planes(4 * docs.size(), '\0');
    for (std::size_t i = 0; i < docs.size(); ++i) {
        for (std::size_t plane = 0; plane < 4; ++plane) {
            planes[plane * docs.size() + i] = static_cast<char>(docs[i] >> (8 * plane));
        }
    }
    std::string frequencies(width * tfs.size(), '\0');
    for (std::size_t i = 0; i < tfs.size(); ++i) {
        for (std::size_t byte = 0; byte < width; ++byte) {
            frequencies[i * width + byte] = static_cast<char>(tfs[i] >> (8 * byte));
        }
    }
    return {earlier_blob(planes, deflate), earlier_blob(frequencies, deflate)};
}

TEST(PostingBlock, RoundTripsExtremesAndEveryFrequencyWidth) {
    expect_round_trip({0}, {1});
    expect_round_trip({0xFFFFFFFFU}, {0xFFFFFFFFU});
    expect_round_trip({0, 0xFFFFFFFFU}, {0, 15});
    expect_round_trip({7, 0x01020304U, 0xFFFFFFFEU, 0xFFFFFFFFU}, {0, 1, 2, 3});
    expect_round_trip({1, 2, 3}, {15, 16, 15});
    expect_round_trip({1, 2, 3}, {255, 1, 255});
    expect_round_trip({1, 2, 3}, {256, 1, 65535});
    expect_round_trip({1, 2, 3}, {65536, 1, 0xFFFFFFFFU});
    std::mt19937 random(7);
    for (const std::uint32_t largest : {1U, 15U, 255U, 65535U, 0xFFFFFFFFU}) {
        for (const std::size_t count :
             {std::size_t{1}, std::size_t{2}, kBlockPostings - 1, kBlockPostings}) {
            expect_round_trip(random_docs(random, count, 0xFFFFFFFFU),
                              random_tfs(random, count, largest));
        }
    }
    expect_round_trip(spaced(kBlockPostings, 1000000, 1), Numbers(kBlockPostings, 1));
    expect_round_trip(spaced(100000, 0, 1), Numbers(100000, 3));
}

TEST(PostingBlock, WritesDistancesAsVarintsAndSmallFrequenciesTwoToAByte) {
    const auto [docs_blob, tfs_blob] = encode_block({3, 9, 12, 140, 0x10000000U}, {1, 15, 2, 0, 7});
    EXPECT_EQ(docs_blob, std::string("\2\3\6\3\x80\x01\xf4\xfe\xff\x7f", 10));
    EXPECT_EQ(tfs_blob, std::string("\2\xf1\x02\x07", 4));
    // A common word's documents: a byte each.
    const auto common = encode_block(spaced(kBlockPostings, 1000, 3), Numbers(kBlockPostings, 1));
    EXPECT_EQ(common.first.size(), 1 + 2 + kBlockPostings - 1);
    EXPECT_EQ(common.second.size(), 1 + kBlockPostings / 2);
}

TEST(PostingBlock, StoresLargerFrequenciesInTheNarrowestWidthThatHoldsTheLargest) {
    const Numbers docs = {3, 9, 12};
    const std::pair<std::uint32_t, std::size_t> cases[] = {
        {16, 1}, {255, 1}, {256, 2}, {65535, 2}, {65536, 4}, {0xFFFFFFFFU, 4}};
    for (const auto& [largest, width] : cases) {
        const auto tfs_blob = encode_block(docs, {1, largest, 2}).second;
        ASSERT_EQ(tfs_blob.size(), 1 + width * docs.size()) << largest;
        EXPECT_EQ(tfs_blob[0], '\0');
        EXPECT_EQ(static_cast<unsigned char>(tfs_blob[1 + width]), largest & 0xFFU) << largest;
        expect_round_trip(docs, {1, largest, 2});
    }
}

TEST(PostingBlock, ReadsTheBlocksOfEarlierLayouts) {
    std::mt19937 random(11);
    BlockDecoder decoder;
    for (const bool deflate : {false, true}) {
        for (const std::uint32_t largest : {1U, 255U, 65535U, 0xFFFFFFFFU}) {
            const std::size_t width = largest < 256 ? 1 : largest < 65536 ? 2 : 4;
            const Numbers docs = random_docs(random, kBlockPostings, 0xFFFFFFFFU);
            const Numbers tfs = random_tfs(random, kBlockPostings, largest);
            const Block block = decoded(decoder, earlier_block(docs, tfs, width, deflate));
            EXPECT_EQ(block.docs, docs);
            EXPECT_EQ(block.tfs, tfs);
        }
    }
    // Blobs that inflate to more than the first output buffer (four times
    // the deflated bytes, at least 4096) make the decoder grow it, many
    // times over for 400 KB of documents from a few hundred bytes.
    const Numbers many = spaced(100000, 0, 1);
    const auto blobs = earlier_block(many, Numbers(many.size(), 70000), 4, true);
    ASSERT_LT(4 * blobs.first.size(), 4 * many.size() / 8);
    const Block block = decoded(decoder, blobs);
    EXPECT_EQ(block.docs, many);
    EXPECT_EQ(block.tfs, Numbers(many.size(), 70000));
}

TEST(PostingBlock, OneDecoderReadsManyBlocksOfEveryTagAndAppends) {
    std::mt19937 random(3);
    BlockDecoder decoder;
    Block all = {{42}, {42}};
    Block expected = all;
    std::set<char> tags;
    for (std::size_t round = 0; round < 60; ++round) {
        const std::size_t count = 1 + random() % (round % 3 == 0 ? 2000 : 40);
        const std::uint32_t range =
            round % 2 == 0 ? 0xFFFFFFFFU : static_cast<std::uint32_t>(2 * count);
        const Numbers docs = random_docs(random, count, range);
        const Numbers tfs = random_tfs(random, count, round % 4 == 0 ? 100000 : 3);
        const auto blobs =
            round % 5 == 4 ? earlier_block(docs, tfs, 4, round % 2 == 0) : encode_block(docs, tfs);
        tags.insert(blobs.first[0]);
        tags.insert(blobs.second[0]);
        decoder.decode(blobs.first, blobs.second, all.docs, all.tfs);
        expected.docs.insert(expected.docs.end(), docs.begin(), docs.end());
        expected.tfs.insert(expected.tfs.end(), tfs.begin(), tfs.end());
    }
    EXPECT_EQ(tags, (std::set<char>{'\0', '\1', '\2'}));
    EXPECT_EQ(all.docs, expected.docs);
    EXPECT_EQ(all.tfs, expected.tfs);
}

// Decoding must refuse, leave the output as it was, and leave the decoder
// fit for the next block.
void expect_refused(const std::string& docs_blob, const std::string& tfs_blob) {
    BlockDecoder decoder;
    Numbers docs = {1};
    Numbers tfs = {2};
    EXPECT_THROW(decoder.decode(docs_blob, tfs_blob, docs, tfs), std::invalid_argument);
    EXPECT_EQ(docs, Numbers{1});
    EXPECT_EQ(tfs, Numbers{2});
    const Block after = decoded(decoder, encode_block(spaced(600, 9, 1), Numbers(600, 1)));
    EXPECT_EQ(after.docs, spaced(600, 9, 1));
}

TEST(PostingBlock, RefusesPackedBlobsThatDoNotDecode) {
    const std::string two = std::string("\2\x01", 2);  // two frequencies of 1
    expect_refused(std::string("\2", 1), std::string("\2", 1));
    expect_refused(std::string("\2\x05\x85", 3), two);                  // a number cut short
    expect_refused(std::string("\2\x05\xff\xff\xff\xff\x10", 7), two);  // above 32 bits
    expect_refused(std::string("\2\x05\x00", 3), two);                  // a document twice
    expect_refused(std::string("\2\xff\xff\xff\xff\x0f\x01", 7), two);  // past the last number
    expect_refused(std::string("\3\x05\x01", 3), two);                  // a tag it does not know
    const std::string docs = std::string("\2\x05\x01\x01", 4);          // three documents
    expect_refused(docs, two);
    expect_refused(docs, std::string("\2\x11\x01\x01", 4));
    expect_refused(docs, std::string("\2\x11\x11", 3));  // the last half byte is not zero
    expect_refused(docs, std::string("\0\x01\x01", 3));
    expect_refused(docs, std::string("\0\x01\x01\x01\x01", 5));
    expect_refused(docs, "");
    expect_refused("", std::string("\2\x11\x01", 3));
    // Planes of earlier layouts must ascend as well.
    expect_refused(earlier_block({5, 5}, {1, 1}, 1, false).first, two);
    expect_refused(earlier_block({6, 5}, {1, 1}, 1, true).first, two);
    // The largest numbers that fit are read.
    BlockDecoder decoder;
    const Block block = decoded(decoder, {std::string("\2\xfe\xff\xff\xff\x0f\x01", 7), two});
    EXPECT_EQ(block.docs, (Numbers{0xFFFFFFFEU, 0xFFFFFFFFU}));
}

TEST(PostingBlock, RefusesDeflatedBlobsThatDoNotDecode) {
    const auto deflated =
        earlier_block(spaced(kBlockPostings, 0, 3), Numbers(kBlockPostings, 1), 1, true);
    ASSERT_EQ(deflated.first[0], '\1');
    ASSERT_EQ(deflated.second[0], '\1');
    for (const bool documents : {true, false}) {
        const std::string& stream = documents ? deflated.first : deflated.second;
        const auto refused_as = [&](const std::string& damaged) {
            if (documents) {
                expect_refused(damaged, deflated.second);
            } else {
                expect_refused(deflated.first, damaged);
            }
        };
        for (const std::size_t cut : {std::size_t{1}, std::size_t{2}, stream.size() / 2,
                                      stream.size() - 4, stream.size() - 1}) {
            SCOPED_TRACE(cut);
            refused_as(stream.substr(0, cut));
        }
        for (const std::size_t at :
             {std::size_t{1}, std::size_t{2}, stream.size() / 2, stream.size() - 1}) {
            SCOPED_TRACE(at);
            std::string damaged = stream;
            damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
            refused_as(damaged);
        }
    }
    // Planes and frequencies of different lengths.
    const std::string two_docs = earlier_block({1, 2}, {1, 1}, 1, false).first;
    for (const std::size_t bytes : {0, 1, 3, 5, 6, 7, 12, 16}) {
        SCOPED_TRACE(bytes);
        expect_refused(two_docs, std::string(1, '\0') + std::string(bytes, '\x01'));
    }
    for (const std::size_t bytes : {1, 3, 7, 9}) {
        SCOPED_TRACE(bytes);
        expect_refused(std::string(1, '\0') + std::string(bytes, '\x01'),
                       std::string(1, '\0') + "\x01");
    }
    expect_refused(std::string(1, '\0'), std::string(1, '\0'));
}

TEST(PostingBlock, EncodeRefusesUnpairedEmptyOrUnorderedArrays) {
    EXPECT_THROW(encode_block({1, 2}, {1}), std::invalid_argument);
    EXPECT_THROW(encode_block({1, 1}, {1, 1}), std::invalid_argument);
    EXPECT_THROW(encode_block({2, 1}, {1, 1}), std::invalid_argument);
    EXPECT_THROW(encode_block({1}, {1, 2}), std::invalid_argument);
    EXPECT_THROW(encode_block({}, {}), std::invalid_argument);
}

}  // namespace
}  // namespace vorn::typing::text
