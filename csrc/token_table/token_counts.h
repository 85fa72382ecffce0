#pragma once
// The distinct tokens of one document with their number of occurrences: a
// small open-addressing hash map sized for the document, which keeps each
// token's hash so that merging into the model's table hashes nothing twice.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace vorn::typing::text {

// The splitmix64 finaliser: every input bit reaches the low bits that index
// the tables, so small consecutive ids and short texts do not cluster.
inline std::uint64_t mix_bits(std::uint64_t x) {
    x = (x ^ (x >> 30U)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27U)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31U);
}

inline std::uint64_t load_bytes(const char* data, std::size_t count) {
    std::uint64_t word = 0;
    std::memcpy(&word, data, count);
    return word;
}

// Tokens are short (a few UTF-8 characters): reading them in at most a few
// fixed-size, possibly overlapping loads and mixing once beats a call into
// the library's general hash.
inline std::uint64_t hash_token(std::string_view token) {
    const char* data = token.data();
    const std::size_t size = token.size();
    std::uint64_t hash = 0x9e3779b97f4a7c15ULL * (size + 1);
    if (size >= 8) {
        std::size_t offset = 0;
        for (; offset + 8 < size; offset += 8) {
            hash = (hash ^ load_bytes(data + offset, 8)) * 0xff51afd7ed558ccdULL;
            hash ^= hash >> 32U;
        }
        hash ^= load_bytes(data + size - 8, 8);
    } else if (size >= 4) {
        hash ^= load_bytes(data, 4) | (load_bytes(data + size - 4, 4) << 32U);
    } else if (size > 0) {
        const auto first = static_cast<unsigned char>(data[0]);
        const auto middle = static_cast<unsigned char>(data[size / 2]);
        const auto last = static_cast<unsigned char>(data[size - 1]);
        hash ^= first | (middle << 8U) | (std::uint64_t{last} << 16U);
    }
    return mix_bits(hash);
}

inline std::uint64_t hash_token(std::int64_t token) {
    return mix_bits(static_cast<std::uint64_t>(token));
}

// Whether two tokens with equal hashes are the same token. hash_token is
// one-to-one on the tokens of one size up to eight bytes (each byte reaches
// the mixed word, and the mix is invertible), so only longer tokens need
// their bytes compared.
inline bool same_hashed(std::string_view left, std::string_view right) {
    return left.size() == right.size() &&
           (left.size() <= 8 || std::memcmp(left.data(), right.data(), left.size()) == 0);
}

inline bool same_hashed(std::int64_t left, std::int64_t right) { return left == right; }

template <typename Token>
class TokenCounts {
  public:
    struct Entry {
        Token token;
        std::uint64_t hash;
        std::int32_t count;
    };

    // Room for `expected` distinct tokens without growing.
    explicit TokenCounts(std::size_t expected) { reset(expected); }

    // Forgets every token and makes room for `expected` distinct ones,
    // keeping the storage when it fits: training counts one document after
    // another, and reuse spares two allocations a document.
    void reset(std::size_t expected) {
        if (expected > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
            throw std::overflow_error("BM25 document holds more than 2147483647 tokens");
        }
        std::size_t capacity = 8;
        while (capacity < expected * 2) {
            capacity *= 2;
        }
        // A much larger table than needed would cost its whole size to clear.
        if (capacity == slots_.size() ||
            (capacity < slots_.size() && capacity * 8 > slots_.size())) {
            std::fill(slots_.begin(), slots_.end(), 0);
        } else {
            slots_.assign(capacity, 0);
        }
        entries_.clear();
        entries_.reserve(expected);
    }

    void add(Token token) {
        const std::uint64_t hash = hash_token(token);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            const std::uint32_t index = slots_[slot];
            if (index == 0) {
                if (entries_.size() * 2 >= slots_.size()) {
                    grow();
                    add_new(token, hash);
                    return;
                }
                append(token, hash);
                slots_[slot] = static_cast<std::uint32_t>(entries_.size());
                return;
            }
            Entry& entry = entries_[index - 1];
            if (entry.hash == hash && same_hashed(entry.token, token)) {
                ++entry.count;
                return;
            }
        }
    }

    // Distinct tokens in the order of their first occurrence.
    const std::vector<Entry>& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }

    // Occurrences of `token`; 0 when it does not occur.
    std::int32_t count(Token token) const {
        const std::uint64_t hash = hash_token(token);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t slot = hash & mask; slots_[slot] != 0; slot = (slot + 1) & mask) {
            const Entry& entry = entries_[slots_[slot] - 1];
            if (entry.hash == hash && same_hashed(entry.token, token)) {
                return entry.count;
            }
        }
        return 0;
    }

  private:
    // Fills the fields one by one: from a braced entry GCC stores the token's
    // two words on the stack and reloads them as one vector, which stalls the
    // store forwarding on every new token.
    void append(Token token, std::uint64_t hash) {
        Entry& entry = entries_.emplace_back();
        entry.token = token;
        entry.hash = hash;
        entry.count = 1;
    }

    void add_new(Token token, std::uint64_t hash) {
        append(token, hash);
        place(entries_.size(), hash);
    }

    void place(std::size_t position, std::uint64_t hash) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t slot = hash & mask;
        while (slots_[slot] != 0) {
            slot = (slot + 1) & mask;
        }
        slots_[slot] = static_cast<std::uint32_t>(position);
    }

    void grow() {
        slots_.assign(slots_.size() * 2, 0);
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            place(i + 1, entries_[i].hash);
        }
    }

    std::vector<Entry> entries_;
    // Position in entries_ plus one; 0 marks an empty slot.
    std::vector<std::uint32_t> slots_;
};

}  // namespace vorn::typing::text
