#include "search/posting_block.h"

#include <gtest/gtest.h>

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

// The first output buffer holds four times the deflated bytes (at least
// 4096): a blob that inflates to more makes the decoder grow it.
bool outgrows_first_buffer(const std::string& blob, std::size_t inflated) {
    return blob[0] == '\1' && inflated > std::max<std::size_t>(4 * (blob.size() - 1), 4096);
}

TEST(PostingBlock, RoundTripsExtremesAndEveryFrequencyWidth) {
    expect_round_trip({0}, {1});
    expect_round_trip({0xFFFFFFFFU}, {0xFFFFFFFFU});
    expect_round_trip({7, 0x01020304U, 0xFFFFFFFEU, 0xFFFFFFFFU}, {0, 1, 2, 3});
    expect_round_trip({1, 2, 3}, {255, 1, 255});
    expect_round_trip({1, 2, 3}, {256, 1, 65535});
    expect_round_trip({1, 2, 3}, {65536, 1, 0xFFFFFFFFU});
    std::mt19937 random(7);
    for (const std::uint32_t largest : {255U, 65535U, 0xFFFFFFFFU}) {
        expect_round_trip(random_docs(random, kBlockPostings, 0xFFFFFFFFU),
                          random_tfs(random, kBlockPostings, largest));
    }
    expect_round_trip(spaced(kBlockPostings, 1000000, 1), Numbers(kBlockPostings, 1));
}

TEST(PostingBlock, StoresFrequenciesInTheNarrowestWidthThatHoldsTheLargest) {
    const Numbers docs = {3, 9, 12};
    const std::pair<std::uint32_t, std::size_t> cases[] = {
        {0, 1}, {255, 1}, {256, 2}, {65535, 2}, {65536, 4}, {0xFFFFFFFFU, 4}};
    for (const auto& [largest, width] : cases) {
        const auto [docs_blob, tfs_blob] = encode_block(docs, {1, largest, 2});
        EXPECT_EQ(docs_blob, std::string("\0\3\x09\x0c", 4) + std::string(9, '\0'));
        ASSERT_EQ(tfs_blob.size(), 1 + width * docs.size()) << largest;
        EXPECT_EQ(tfs_blob[0], '\0');
        EXPECT_EQ(static_cast<unsigned char>(tfs_blob[1 + width]), largest & 0xFFU) << largest;
    }
}

TEST(PostingBlock, DeflatesOnlyWhatDeflatingShortens) {
    std::mt19937 random(11);
    // Random 32-bit documents and frequencies: deflate cannot shorten them.
    const Numbers docs = random_docs(random, 300, 0xFFFFFFFFU);
    const Numbers tfs = random_tfs(random, 300, 0xFFFFFFFFU);
    const auto [raw_docs, raw_tfs] = encode_block(docs, tfs);
    EXPECT_EQ(raw_docs, '\0' + raw_docs.substr(1));
    EXPECT_EQ(raw_docs.size(), 1 + 4 * docs.size());
    EXPECT_EQ(raw_tfs.size(), 1 + 4 * tfs.size());
    EXPECT_EQ(raw_tfs[0], '\0');
    // Consecutive documents, equal frequencies: both shrink.
    const auto [docs_blob, tfs_blob] =
        encode_block(spaced(kBlockPostings, 0, 5), Numbers(kBlockPostings, 2));
    EXPECT_EQ(docs_blob[0], '\1');
    EXPECT_LT(docs_blob.size(), 1 + 4 * kBlockPostings);
    EXPECT_EQ(tfs_blob[0], '\1');
    EXPECT_LT(tfs_blob.size(), 1 + kBlockPostings);
}

TEST(PostingBlock, LargeBlocksGrowTheOutputBuffer) {
    // Random documents a few apart and frequencies of one or two: deflate
    // shrinks them well below a quarter.
    std::mt19937 random(5);
    Numbers docs = random_tfs(random, 5000, 4);
    for (std::size_t i = 0; i < docs.size(); ++i) {
        docs[i] += static_cast<std::uint32_t>(256 * i);
    }
    const Numbers tfs = random_tfs(random, docs.size(), 2);
    const auto blobs = encode_block(docs, tfs);
    ASSERT_TRUE(outgrows_first_buffer(blobs.first, 4 * docs.size()));
    ASSERT_TRUE(outgrows_first_buffer(blobs.second, tfs.size()));
    BlockDecoder decoder;
    Block block = decoded(decoder, blobs);
    EXPECT_EQ(block.docs, docs);
    EXPECT_EQ(block.tfs, tfs);
    // Many doublings: 400 KB of documents from a few hundred bytes.
    const Numbers many = spaced(100000, 0, 1);
    const auto long_blobs = encode_block(many, Numbers(many.size(), 70000));
    ASSERT_TRUE(outgrows_first_buffer(long_blobs.first, 4 * many.size()));
    ASSERT_TRUE(outgrows_first_buffer(long_blobs.second, 4 * many.size()));
    block = decoded(decoder, long_blobs);
    EXPECT_EQ(block.docs, many);
    EXPECT_EQ(block.tfs, Numbers(many.size(), 70000));
}

TEST(PostingBlock, OneDecoderReadsManyBlocksOfBothTagsAndAppends) {
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
        const auto blobs = encode_block(docs, tfs);
        tags.insert(blobs.first[0]);
        tags.insert(blobs.second[0]);
        decoder.decode(blobs.first, blobs.second, all.docs, all.tfs);
        expected.docs.insert(expected.docs.end(), docs.begin(), docs.end());
        expected.tfs.insert(expected.tfs.end(), tfs.begin(), tfs.end());
    }
    EXPECT_EQ(tags, (std::set<char>{'\0', '\1'}));
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
    const Block after = decoded(decoder, encode_block(Numbers(600, 9), Numbers(600, 1)));
    EXPECT_EQ(after.docs, Numbers(600, 9));
}

TEST(PostingBlock, RefusesBlobsThatDoNotDecode) {
    const auto [docs_blob, tfs_blob] = encode_block({1, 2}, {3, 4});
    expect_refused('\2' + docs_blob.substr(1), tfs_blob);
    expect_refused(docs_blob, '\xff' + tfs_blob.substr(1));
    expect_refused("", tfs_blob);
    expect_refused(docs_blob, "");

    const auto deflated = encode_block(spaced(kBlockPostings, 0, 3), Numbers(kBlockPostings, 1));
    ASSERT_EQ(deflated.first[0], '\1');
    ASSERT_EQ(deflated.second[0], '\1');
    // A tag this format does not know, in front of bytes that would inflate.
    expect_refused('\2' + deflated.first.substr(1), deflated.second);
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
}

TEST(PostingBlock, RefusesArraysOfMismatchedLengths) {
    const std::string two_docs = std::string(1, '\0') + std::string(8, '\x01');
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
    // Blobs of two different blocks, deflated both.
    const auto longer = encode_block(spaced(700, 0, 1), Numbers(700, 1));
    const auto shorter = encode_block(spaced(699, 0, 1), Numbers(699, 1));
    expect_refused(longer.first, shorter.second);
    expect_refused(shorter.first, longer.second);
}

TEST(PostingBlock, EncodeRefusesUnpairedOrEmptyArrays) {
    EXPECT_THROW(encode_block({1, 2}, {1}), std::invalid_argument);
    EXPECT_THROW(encode_block({1}, {1, 2}), std::invalid_argument);
    EXPECT_THROW(encode_block({}, {}), std::invalid_argument);
}

}  // namespace
}  // namespace vorn::typing::text
