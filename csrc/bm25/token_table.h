#pragma once
// The model's table from token text to its number of occurrences: an
// open-addressing hash map whose keys live in large shared blocks, so that a
// million tokens cost a few dozen bytes each instead of a node per token.

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "bm25/large_allocator.h"
#include "bm25/token_counts.h"

namespace vorn::typing::text {

class TokenTable {
  public:
    struct Entry {
        const char* data;
        std::uint32_t size;
        std::int32_t count;
        std::string_view token() const { return {data, size}; }
    };

    TokenTable() = default;
    TokenTable(const TokenTable& other);
    TokenTable& operator=(const TokenTable& other);
    TokenTable(TokenTable&& other) noexcept;
    TokenTable& operator=(TokenTable&& other) noexcept;
    ~TokenTable() = default;

    // The count of `token`, or nullptr when the table does not hold it.
    const std::int32_t* find(std::string_view token) const {
        return find(token, hash_token(token));
    }
    const std::int32_t* find(std::string_view token, std::uint64_t hash) const;

    // The count of `token`, inserted as 0 when absent. `hash` must be
    // hash_token(token).
    std::int32_t& at_or_insert(std::string_view token, std::uint64_t hash);
    std::int32_t& operator[](std::string_view token) {
        return at_or_insert(token, hash_token(token));
    }

    // A lookup waits for up to three loads one after another: its first
    // slot, the entry that slot names, the entry's text. Batches of lookups
    // start each load for the whole batch before the next, once the previous
    // one has had time to arrive, so that they wait for memory together.
    void prefetch(std::uint64_t hash) const {
        if (!slots_.empty()) {
            __builtin_prefetch(&slots_[home_of(hash)]);
        }
    }
    void prefetch_entry(std::uint64_t hash) const {
        if (const Entry* entry = first_candidate(hash)) {
            __builtin_prefetch(entry);
        }
    }
    void prefetch_text(std::uint64_t hash) const {
        if (const Entry* entry = first_candidate(hash)) {
            __builtin_prefetch(entry->data);
        }
    }

    void reserve(std::size_t entries);
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

    // Entries in insertion order; the order carries no meaning.
    using Entries = std::vector<Entry, LargeAllocator<Entry>>;
    Entries::const_iterator begin() const { return entries_.begin(); }
    Entries::const_iterator end() const { return entries_.end(); }

  private:
    // A hash's first slot comes from its top bits, the bits the slots keep:
    // growing the table then moves the slots in order, without reading a
    // token, and writes the new slots front to back instead of at random.
    std::size_t home_of(std::uint64_t hash) const {
        return static_cast<std::size_t>(hash >> shift_);
    }
    // A slot holds the top 32 bits of its token's hash (the tag) above its
    // entry's position + 1; 0 is an empty slot. tag_of reads both forms.
    static std::uint64_t tag_of(std::uint64_t hash_or_slot) { return hash_or_slot >> 32U; }
    static std::uint64_t slot_value(std::uint64_t hash, std::size_t position) {
        return (tag_of(hash) << 32U) | (position + 1);
    }
    const Entry& entry_in(std::uint64_t slot) const { return entries_[(slot & 0xffffffffU) - 1]; }
    Entry& entry_in(std::uint64_t slot) { return entries_[(slot & 0xffffffffU) - 1]; }
    // The entry in the first slot of `hash` when its tag matches.
    const Entry* first_candidate(std::uint64_t hash) const {
        if (slots_.empty()) {
            return nullptr;
        }
        const std::uint64_t value = slots_[home_of(hash)];
        return value != 0 && tag_of(value) == tag_of(hash) ? &entry_in(value) : nullptr;
    }
    const char* store(std::string_view token);
    std::size_t slot_of(std::string_view token, std::uint64_t hash) const;
    void rehash(std::size_t capacity);

    Entries entries_;
    // (upper 32 bits of the hash) << 32 | (position in entries_ + 1); 0 is empty.
    std::vector<std::uint64_t, LargeAllocator<std::uint64_t>> slots_;
    unsigned shift_ = 63;  // 64 - log2(slots_.size()) once there are slots
    // Token bytes; a block never moves once allocated, so entries point into it.
    std::vector<LargeBlock> blocks_;
    char* block_ = nullptr;  // free space of the shared block in use
    std::size_t block_left_ = 0;
};

}  // namespace vorn::typing::text
