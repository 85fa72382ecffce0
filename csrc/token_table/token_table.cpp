#include "token_table/token_table.h"

#include <stdexcept>
#include <utility>

namespace vorn::typing::text {

namespace {

constexpr std::size_t kMinCapacity = 16;

}  // namespace

TokenTable::TokenTable(const TokenTable& other) {
    reserve(other.size());
    for (const Entry entry : other) {
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

TokenTable::TokenTable(TokenTable&& other) noexcept
    : records_(std::move(other.records_)),
      size_(std::exchange(other.size_, 0)),
      slots_(std::move(other.slots_)),
      shift_(other.shift_) {
    other.slots_.clear();
}

TokenTable& TokenTable::operator=(TokenTable&& other) noexcept {
    if (this != &other) {
        records_ = std::move(other.records_);
        size_ = std::exchange(other.size_, 0);
        slots_ = std::move(other.slots_);
        shift_ = other.shift_;
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
        if (tag_of(value) == tag && records_.token(handle_in(value)) == token) {
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
    return value == 0 ? nullptr : &records_.count(handle_in(value));
}

std::int32_t& TokenTable::at_or_insert(std::string_view token, std::uint64_t hash) {
    // Keep the load at or below three quarters so that probe runs stay short.
    if ((size_ + 1) * 4 > slots_.size() * 3) {
        rehash(slots_.empty() ? kMinCapacity : slots_.size() * 2);
    }
    const std::size_t slot = slot_of(token, hash);
    if (slots_[slot] != 0) {
        return records_.count(handle_in(slots_[slot]));
    }
    if (size_ >= UINT32_MAX) {
        throw std::length_error("BM25 token table cannot hold this token");
    }
    const Handle handle = records_.add(token);
    slots_[slot] = slot_value(hash, handle);
    ++size_;
    return records_.count(handle);
}

void TokenTable::reserve(std::size_t entries) {
    std::size_t capacity = slots_.empty() ? kMinCapacity : slots_.size();
    while (entries * 4 > capacity * 3) {
        capacity *= 2;
    }
    if (capacity != slots_.size()) {
        rehash(capacity);
    }
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
    if (shift >= kHandleBits) {
        // The kept tag holds the whole home.
        for (const std::uint64_t value : slots_) {
            if (value != 0) {
                place(home_in(value, shift), value);
            }
        }
    } else {
        for (const Entry entry : records_) {
            const std::uint64_t hash = hash_token(entry.token());
            place(static_cast<std::size_t>(hash >> shift), slot_value(hash, entry.handle));
        }
    }
    slots_ = std::move(slots);
    shift_ = shift;
}

}  // namespace vorn::typing::text
