// Construction, token counting and training of the BM25 model.

#include <algorithm>
#include <array>
#include <limits>
#include <stdexcept>

#include "bm25/bm25.h"
#include "bm25/token_text.h"

namespace vorn::typing::text {

namespace {

constexpr std::int32_t kMaxCount = std::numeric_limits<std::int32_t>::max();

template <typename Counts, typename Tokens>
void count_into(Counts& counts, const Tokens& tokens) {
    counts.reset(tokens.size());
    for (const auto& token : tokens) {
        counts.add(token);
    }
}

template <typename Counts, typename Tokens>
Counts count(const Tokens& tokens) {
    Counts counts(0);
    count_into(counts, tokens);
    return counts;
}

// The key of a counted token in the model's table, with its hash: a string
// is its own text and keeps the hash it was counted with; an id is hashed as
// its decimal text.
struct TableKey {
    std::string_view text;
    std::uint64_t hash;
};

TableKey table_key(const StringCounts::Entry& entry, char (&)[kMaxIdTextLength]) {
    return {entry.token, entry.hash};
}

TableKey table_key(const IdCounts::Entry& entry, char (&buffer)[kMaxIdTextLength]) {
    const std::string_view text = id_text(entry.token, buffer);
    return {text, hash_token(text)};
}

// Runs `visit` over the keys of `entries` in order while the slot of the key
// kSlotsAhead further and the record of the key kRecordsAhead further are on
// their way from memory: a steady number of loads in flight, where asking for
// a whole document at once would overflow the core's miss buffers and stall.
constexpr std::size_t kSlotsAhead = 16;
constexpr std::size_t kRecordsAhead = 8;

template <typename Entries, typename Visit>
void for_each_in_pipeline(const TokenTable& table, const Entries& entries, Visit visit) {
    struct Staged {
        TableKey key;
        char buffer[kMaxIdTextLength];
    };
    std::array<Staged, kSlotsAhead> ring;
    const std::size_t size = entries.size();
    const auto stage = [&](std::size_t i) {
        Staged& staged = ring[i % kSlotsAhead];
        staged.key = table_key(entries[i], staged.buffer);
        table.prefetch(staged.key.hash);
    };
    for (std::size_t i = 0; i < std::min(size, kSlotsAhead); ++i) {
        stage(i);
    }
    for (std::size_t i = 0; i < std::min(size, kRecordsAhead); ++i) {
        table.prefetch_record(ring[i].key.hash);
    }
    for (std::size_t i = 0; i < size; ++i) {
        if (i + kRecordsAhead < size) {
            table.prefetch_record(ring[(i + kRecordsAhead) % kSlotsAhead].key.hash);
        }
        visit(i, ring[i % kSlotsAhead].key);
        if (i + kSlotsAhead < size) {
            stage(i + kSlotsAhead);
        }
    }
}

}  // namespace

BM25::BM25(double b, double k1) : _b(b), _k1(k1) {}

StringCounts BM25::count_tokens(const StringTokens& tokens) { return count<StringCounts>(tokens); }

IdCounts BM25::count_tokens(const IdTokens& tokens) { return count<IdCounts>(tokens); }

namespace {

// The message is spelled as callers have always matched it; leave it so.
[[noreturn]] void refuse_empty_document() {
    throw std::runtime_error("trainning tokens_vec should not be empty");
}

}  // namespace

void BM25::train(const StringTokens& tokens_vec) {
    if (tokens_vec.empty()) {
        refuse_empty_document();
    }
    count_into(_string_counts, tokens_vec);
    merge_document(_string_counts, tokens_vec.size());
}

void BM25::train(const IdTokens& tokens_vec) {
    if (tokens_vec.empty()) {
        refuse_empty_document();
    }
    count_into(_id_counts, tokens_vec);
    merge_document(_id_counts, tokens_vec.size());
}

void BM25::prefetch_slots(const StringCounts& counts) const {
    const auto& entries = counts.entries();
    for (const auto& entry : entries) {
        _doc_token_frequency.prefetch(entry.hash);
    }
    for (const auto& entry : entries) {
        _doc_token_frequency.prefetch_record(entry.hash);
    }
}

template <typename Counts>
void BM25::merge_document(const Counts& counts, std::size_t length) {
    if (_doc_count == kMaxCount) {
        throw std::overflow_error("BM25 document count would exceed 2147483647");
    }
    // Every entry is at most _frequency_bound, so only a document long enough
    // to push the bound past the limit needs the per-token check; the check
    // runs before anything changes so that a refused document leaves no trace.
    const auto headroom = static_cast<std::size_t>(kMaxCount - _frequency_bound);
    if (length > headroom) {
        char buffer[kMaxIdTextLength];
        for (const auto& entry : counts.entries()) {
            const TableKey key = table_key(entry, buffer);
            const std::int32_t* current = _doc_token_frequency.find(key.text, key.hash);
            if (current != nullptr && *current > kMaxCount - entry.count) {
                throw std::overflow_error("BM25 token frequency would exceed 2147483647");
            }
        }
    }
    const auto& entries = counts.entries();
    for_each_in_pipeline(
        _doc_token_frequency, entries, [this, &entries](std::size_t i, const TableKey& key) {
            std::int32_t& frequency = _doc_token_frequency.at_or_insert(key.text, key.hash);
            frequency += entries[i].count;
            _frequency_bound = std::max(_frequency_bound, frequency);
        });
    _doc_count += 1;
    _doc_length_total += static_cast<std::int64_t>(length);
    _doc_length_average = static_cast<double>(_doc_length_total) / static_cast<double>(_doc_count);
}

}  // namespace vorn::typing::text
