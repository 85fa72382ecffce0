#pragma once
// The token table's records: a token's count, its size and its bytes side by
// side in large blocks, named by a number of 36 bits. A lookup that reaches a
// record finds the text in the same cache line as the count, and a token
// costs its text and eight bytes. Records never move.

#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>
#include <vector>

#include "platform/large_allocator.h"
#include "platform/prefetch.h"

namespace vorn::typing::text {

class TokenRecords {
  public:
    // 1 + the record's place in 4-byte units, where each block index spans
    // kBlockSpan bytes; never 0, always below 2^kHandleBits.
    using Handle = std::uint64_t;
    static constexpr unsigned kHandleBits = 36;

    // This many bytes from the start of any record's text can be read,
    // whatever the text's size (what lies past a short text is no part of
    // it), so that short texts can be read a word at a time.
    static constexpr std::size_t kReadableText = 16;

    struct Entry {
        Handle handle;
        const char* data;
        std::uint32_t size;
        std::int32_t count;
        std::string_view token() const { return {data, size}; }
    };

    TokenRecords() = default;
    TokenRecords(const TokenRecords&) = delete;
    TokenRecords& operator=(const TokenRecords&) = delete;
    TokenRecords(TokenRecords&& other) noexcept;
    TokenRecords& operator=(TokenRecords&& other) noexcept;
    ~TokenRecords() = default;

    // A new record of `token` with the count 0.
    Handle add(std::string_view token);

    std::string_view token(Handle handle) const {
        const Header& header = header_at(handle);
        return {text_of(handle), header.size};
    }
    std::int32_t& count(Handle handle) { return header_at(handle).count; }
    const std::int32_t& count(Handle handle) const { return header_at(handle).count; }

    // Asks for the record's first bytes, and for the line after when a short
    // record crosses into it.
    void prefetch(Handle handle) const {
        const char* const record = record_at(handle);
        prefetch_line(record);
        prefetch_line(record + kShortRecord - 1);
    }

    // Records in the order of their blocks; the order carries no meaning.
    class Iterator {
      public:
        Iterator(const TokenRecords& records, std::size_t index)
            : records_(&records), index_(index) {
            skip_spent_blocks();
        }
        // Inline: dump walks a million records twice.
        Entry operator*() const;
        Iterator& operator++();
        bool operator==(const Iterator& other) const {
            return index_ == other.index_ && offset_ == other.offset_;
        }
        bool operator!=(const Iterator& other) const { return !(*this == other); }

      private:
        void skip_spent_blocks();

        const TokenRecords* records_;
        std::size_t index_;
        std::size_t offset_ = 0;
    };
    Iterator begin() const { return {*this, 0}; }
    Iterator end() const { return {*this, blocks_.size()}; }

  private:
    struct Header {
        std::int32_t count;
        std::uint32_t size;
    };
    struct Block {
        char* base;        // null for the indices a long token's block spans beyond its first
        std::size_t used;  // bytes of records in the block
    };

    static constexpr std::size_t kUnit = 4;
    static constexpr unsigned kUnitsPerSpan = 19;  // a block index spans 2 MiB
    static constexpr std::size_t kBlockSpan = kUnit << kUnitsPerSpan;
    static constexpr std::size_t kShortRecord = 32;

    static Handle handle_of(std::size_t index, std::size_t offset) {
        return 1 + ((Handle{index} << kUnitsPerSpan) | (offset / kUnit));
    }
    static std::size_t record_bytes(std::size_t size) {
        return (sizeof(Header) + size + kUnit - 1) & ~(kUnit - 1);
    }
    char* record_at(Handle handle) const {
        const Handle unit = handle - 1;
        return blocks_[unit >> kUnitsPerSpan].base +
               (unit & ((Handle{1} << kUnitsPerSpan) - 1)) * kUnit;
    }
    Header& header_at(Handle handle) const {
        return *std::launder(reinterpret_cast<Header*>(record_at(handle)));
    }
    const char* text_of(Handle handle) const { return record_at(handle) + sizeof(Header); }
    // A block of `bytes` under as many indices as it spans; its first index.
    std::size_t new_block(std::size_t bytes);

    std::vector<Block> blocks_;
    std::vector<LargeBlock> memory_;
    std::size_t current_ = 0;  // index of the shared block in use, when left_ > 0
    std::size_t left_ = 0;     // bytes left in it
};

inline TokenRecords::Entry TokenRecords::Iterator::operator*() const {
    const Block& block = records_->blocks_[index_];
    const Handle handle = handle_of(index_, offset_);
    const Header& header = records_->header_at(handle);
    return {handle, block.base + offset_ + sizeof(Header), header.size, header.count};
}

inline TokenRecords::Iterator& TokenRecords::Iterator::operator++() {
    offset_ += record_bytes(records_->header_at(handle_of(index_, offset_)).size);
    if (offset_ >= records_->blocks_[index_].used) {
        skip_spent_blocks();
    }
    return *this;
}

}  // namespace vorn::typing::text
