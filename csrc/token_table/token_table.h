#pragma once
// The model's table from token text to its number of occurrences: an
// open-addressing hash map of eight-byte slots that name records holding
// count and text together, so that a million tokens cost a few dozen bytes
// each instead of a node per token, and a lookup waits for two loads.

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/large_allocator.h"
#include "token_table/token_counts.h"
#include "token_table/token_records.h"

namespace vorn::typing::text {

class TokenTable {
  public:
    using Handle = TokenRecords::Handle;
    using Entry = TokenRecords::Entry;
    static constexpr std::size_t kReadableText = TokenRecords::kReadableText;

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
    // hash_token(token). The reference stays valid as the table grows.
    std::int32_t& at_or_insert(std::string_view token, std::uint64_t hash);
    std::int32_t& operator[](std::string_view token) {
        return at_or_insert(token, hash_token(token));
    }

    // A lookup waits for its first slot, then for the record that slot
    // names. Batches of lookups ask for every slot first and for the records
    // once the slots have had time to arrive, so that they wait together.
    void prefetch(std::uint64_t hash) const {
        if (!slots_.empty()) {
            prefetch_line(&slots_[home_of(hash)]);
        }
    }
    // Follows the probe run as a lookup would (at a load of one half, a
    // token is not in its first slot every third time), but only as far as
    // the slots' cache line is likely to reach.
    void prefetch_record(std::uint64_t hash) const {
        if (slots_.empty()) {
            return;
        }
        const std::size_t mask = slots_.size() - 1;
        std::size_t slot = home_of(hash);
        for (std::size_t step = 0; step < kPrefetchRun; ++step, slot = (slot + 1) & mask) {
            const std::uint64_t value = slots_[slot];
            if (value == 0) {
                return;
            }
            if (tag_of(value) == tag_of(hash)) {
                records_.prefetch(handle_in(value));
                return;
            }
        }
    }

    void reserve(std::size_t entries);
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // Entries in storage order; the order carries no meaning.
    TokenRecords::Iterator begin() const { return records_.begin(); }
    TokenRecords::Iterator end() const { return records_.end(); }

    // What an entry's handle names, for readers that keep handles in an
    // order of their own.
    std::string_view token_at(Handle handle) const { return records_.token(handle); }
    std::int32_t count_at(Handle handle) const { return records_.count(handle); }
    void prefetch_at(Handle handle) const { records_.prefetch(handle); }

  private:
    friend class TokenTableFiller;

    static constexpr unsigned kHandleBits = TokenRecords::kHandleBits;
    static constexpr std::size_t kPrefetchRun = 8;

    // A hash's first slot comes from its top bits, the bits the slots keep:
    // growing the table then moves the slots in order, without reading a
    // token, and writes the new slots front to back instead of at random.
    std::size_t home_of(std::uint64_t hash) const {
        return static_cast<std::size_t>(hash >> shift_);
    }
    // A slot holds the top 28 bits of its token's hash (the tag) above the
    // handle of its record; 0 is an empty slot. tag_of reads both forms.
    static std::uint64_t tag_of(std::uint64_t hash_or_slot) { return hash_or_slot >> kHandleBits; }
    static std::uint64_t slot_value(std::uint64_t hash, Handle handle) {
        return (tag_of(hash) << kHandleBits) | handle;
    }
    // The home of a slot's token in an array of 2^(64 - shift) slots, while
    // shift >= kHandleBits: the kept tag holds the whole home.
    static std::size_t home_in(std::uint64_t slot, unsigned shift) {
        return static_cast<std::size_t>(tag_of(slot) >> (shift - kHandleBits));
    }
    static Handle handle_in(std::uint64_t slot) {
        return slot & ((std::uint64_t{1} << kHandleBits) - 1);
    }
    std::size_t slot_of(std::string_view token, std::uint64_t hash) const;
    void rehash(std::size_t capacity);

    TokenRecords records_;
    std::size_t size_ = 0;
    // tag << kHandleBits | handle; 0 is empty.
    std::vector<std::uint64_t, LargeAllocator<std::uint64_t>> slots_;
    unsigned shift_ = 63;  // 64 - log2(slots_.size()) once there are slots
};

}  // namespace vorn::typing::text
