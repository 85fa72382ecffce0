#include "bm25/token_table.h"

#include <cstring>
#include <stdexcept>
#include <utility>

namespace vorn::typing::text {

namespace {

constexpr std::size_t kBlockSize = std::size_t{64} * 1024;
constexpr std::size_t kMinCapacity = 16;

}  // namespace

TokenTable::TokenTable(const TokenTable& other) {
    reserve(other.size());
    for (const Entry& entry : other) {
        (*this)[entry.token()] = entry.count;
    }
}

TokenTable& TokenTable::operator=(const TokenTable& other) {
    if (this != &other) {
        TokenTable copy(other);
        *this = std::move(copy);
    }
    return *this;
}

// A moved-from table must not keep writing into blocks it gave away.
TokenTable::TokenTable(TokenTable&& other) noexcept
    : entries_(std::move(other.entries_)),
      slots_(std::move(other.slots_)),
      shift_(other.shift_),
      blocks_(std::move(other.blocks_)),
      block_(std::exchange(other.block_, nullptr)),
      block_left_(std::exchange(other.block_left_, 0)) {
    other.entries_.clear();
    other.slots_.clear();
}

TokenTable& TokenTable::operator=(TokenTable&& other) noexcept {
    if (this != &other) {
        entries_ = std::move(other.entries_);
        slots_ = std::move(other.slots_);
        shift_ = other.shift_;
        blocks_ = std::move(other.blocks_);
        block_ = std::exchange(other.block_, nullptr);
        block_left_ = std::exchange(other.block_left_, 0);
        other.entries_.clear();
        other.slots_.clear();
    }
    return *this;
}

std::size_t TokenTable::slot_of(std::string_view token, std::uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    const std::uint64_t tag = tag_of(hash);
    std::size_t slot = home_of(hash);
    for (; slots_[slot] != 0; slot = (slot + 1) & mask) {
        const std::uint64_t value = slots_[slot];
        if (tag_of(value) == tag && entry_in(value).token() == token) {
            break;
        }
    }
    return slot;
}

const std::int32_t* TokenTable::find(std::string_view token, std::uint64_t hash) const {
    if (slots_.empty()) {
        return nullptr;
    }
    const std::uint64_t value = slots_[slot_of(token, hash)];
    return value == 0 ? nullptr : &entry_in(value).count;
}

std::int32_t& TokenTable::at_or_insert(std::string_view token, std::uint64_t hash) {
    // Keep the load at or below three quarters so that probe runs stay short.
    if ((entries_.size() + 1) * 4 > slots_.size() * 3) {
        rehash(slots_.empty() ? kMinCapacity : slots_.size() * 2);
    }
    const std::size_t slot = slot_of(token, hash);
    if (slots_[slot] != 0) {
        return entry_in(slots_[slot]).count;
    }
    if (token.size() > UINT32_MAX || entries_.size() >= UINT32_MAX) {
        throw std::length_error("BM25 token table cannot hold this token");
    }
    entries_.push_back({store(token), static_cast<std::uint32_t>(token.size()), 0});
    slots_[slot] = slot_value(hash, entries_.size() - 1);
    return entries_.back().count;
}

void TokenTable::reserve(std::size_t entries) {
    std::size_t capacity = slots_.empty() ? kMinCapacity : slots_.size();
    while (entries * 4 > capacity * 3) {
        capacity *= 2;
    }
    if (capacity != slots_.size()) {
        rehash(capacity);
    }
    entries_.reserve(entries);
}

void TokenTable::rehash(std::size_t capacity) {
    std::vector<std::uint64_t, LargeAllocator<std::uint64_t>> slots(capacity, 0);
    const std::size_t mask = capacity - 1;
    // Capacities are powers of two.
    const auto shift = static_cast<unsigned>(64 - __builtin_ctzll(capacity));
    const auto place = [&slots, mask](std::size_t home, std::uint64_t value) {
        std::size_t slot = home;
        while (slots[slot] != 0) {
            slot = (slot + 1) & mask;
        }
        slots[slot] = value;
    };
    if (shift >= 32) {
        // The kept top 32 bits hold the whole home.
        for (const std::uint64_t value : slots_) {
            if (value != 0) {
                place(static_cast<std::size_t>(tag_of(value) >> (shift - 32)), value);
            }
        }
    } else {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const std::uint64_t hash = hash_token(entries_[i].token());
            place(static_cast<std::size_t>(hash >> shift), slot_value(hash, i));
        }
    }
    slots_ = std::move(slots);
    shift_ = shift;
}

const char* TokenTable::store(std::string_view token) {
    if (token.empty()) {
        return "";
    }
    if (token.size() > kBlockSize / 4) {
        // Long tokens get a block of their own so that the shared block in use
        // is not abandoned half empty.
        char* const own = blocks_.emplace_back(token.size()).data();
        std::memcpy(own, token.data(), token.size());
        return own;
    }
    if (token.size() > block_left_) {
        // Once the table holds a few blocks, a block is one huge page: millions
        // of tokens would otherwise cost a fault every 4 KiB of their text.
        const std::size_t block_size =
            blocks_.size() * kBlockSize >= kHugePageSize ? kHugePageSize : kBlockSize;
        block_ = blocks_.emplace_back(block_size).data();
        block_left_ = block_size;
    }
    char* target = block_;
    std::memcpy(target, token.data(), token.size());
    block_ += token.size();
    block_left_ -= token.size();
    return target;
}

}  // namespace vorn::typing::text
