// Construction, token counting and training of the BM25 model.

#include <limits>
#include <stdexcept>

#include "bm25/bm25.h"
#include "bm25/token_text.h"

namespace vorn::typing::text {

namespace {

constexpr std::int32_t kMaxCount = std::numeric_limits<std::int32_t>::max();

std::string_view text_of(std::string_view token, char (&)[kMaxIdTextLength]) { return token; }

std::string_view text_of(std::int64_t token, char (&buffer)[kMaxIdTextLength]) {
    return id_text(token, buffer);
}

// A document longer than this could hold more than 2^31 - 1 occurrences of a
// token, which the 32-bit counts cannot represent.
void require_countable(std::size_t length) {
    if (length > static_cast<std::size_t>(kMaxCount)) {
        throw std::overflow_error("BM25 document holds more than 2147483647 tokens");
    }
}

template <typename Counts, typename Tokens>
Counts count(const Tokens& tokens) {
    require_countable(tokens.size());
    Counts counts;
    counts.reserve(tokens.size());
    for (const auto& token : tokens) {
        ++counts[token];
    }
    return counts;
}

}  // namespace

BM25::BM25(double b, double k1) : _b(b), _k1(k1) {}

StringCounts BM25::count_tokens(const StringTokens& tokens) { return count<StringCounts>(tokens); }

IdCounts BM25::count_tokens(const IdTokens& tokens) { return count<IdCounts>(tokens); }

void BM25::train(const StringTokens& tokens_vec) {
    if (tokens_vec.empty()) {
        throw std::runtime_error("trainning tokens_vec should not be empty");
    }
    merge_document(count_tokens(tokens_vec), tokens_vec.size());
}

void BM25::train(const IdTokens& tokens_vec) {
    if (tokens_vec.empty()) {
        throw std::runtime_error("trainning tokens_vec should not be empty");
    }
    merge_document(count_tokens(tokens_vec), tokens_vec.size());
}

template <typename Counts>
void BM25::merge_document(const Counts& counts, std::size_t length) {
    if (_doc_count == kMaxCount) {
        throw std::overflow_error("BM25 document count would exceed 2147483647");
    }
    char buffer[kMaxIdTextLength];
    // Every entry is at most _frequency_bound, so only a document long enough
    // to push the bound past the limit needs the per-token check; the check
    // runs before anything changes so that a refused document leaves no trace.
    const auto headroom = static_cast<std::size_t>(kMaxCount - _frequency_bound);
    if (length > headroom) {
        for (const auto& [token, occurrences] : counts) {
            const auto found = _doc_token_frequency.find(std::string(text_of(token, buffer)));
            const std::int32_t current = found == _doc_token_frequency.end() ? 0 : found->second;
            if (current > kMaxCount - occurrences) {
                throw std::overflow_error("BM25 token frequency would exceed 2147483647");
            }
        }
    }
    for (const auto& [token, occurrences] : counts) {
        std::int32_t& entry = _doc_token_frequency[std::string(text_of(token, buffer))];
        entry += occurrences;
        if (entry > _frequency_bound) {
            _frequency_bound = entry;
        }
    }
    _doc_count += 1;
    _doc_length_total += static_cast<std::int64_t>(length);
    _doc_length_average = static_cast<double>(_doc_length_total) / static_cast<double>(_doc_count);
}

}  // namespace vorn::typing::text
