// Document and query encoding of the BM25 model.

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numeric>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

#include "bm25/bm25.h"
#include "bm25/token_order.h"
#include "bm25/token_text.h"

namespace vorn::typing::text {

namespace {

// A distinct token with its weight, ordered as the result map orders keys.
struct IdWeight {
    std::int64_t token;
    double weight;
    bool operator<(const IdWeight& other) const { return token < other.token; }
};

// Texts carry their order prefix, so that sorting rarely compares bytes.
struct TextWeight {
    OrderedText key;
    double weight;
    std::string_view token() const { return key.text; }
    bool operator<(const TextWeight& other) const { return key < other.key; }
};

IdWeight weighed(std::int64_t token, double weight) { return {token, weight}; }

TextWeight weighed(std::string_view token, double weight) {
    return {{order_prefix(token), token}, weight};
}

std::int64_t token_of(const IdWeight& entry) { return entry.token; }
std::string_view token_of(const TextWeight& entry) { return entry.token(); }

template <typename Token>
using Weight = decltype(weighed(std::declval<Token>(), 0.0));

template <typename Token>
using Weights = std::vector<Weight<Token>>;

template <typename Entry>
void sort_by_token(std::vector<Entry>& weights) {
    std::sort(weights.begin(), weights.end());
}

// Adds an entry to a result whose keys arrive in ascending order, so that
// every insertion lands at the end of the map without a search.
template <typename Vector, typename Token>
void append(Vector& result, Token token, double weight) {
    result.emplace_hint(result.end(), std::piecewise_construct, std::forward_as_tuple(token),
                        std::forward_as_tuple(weight));
}

template <typename Vector, typename Entry>
Vector to_vector(const std::vector<Entry>& sorted_weights) {
    Vector result;
    for (const Entry& entry : sorted_weights) {
        append(result, token_of(entry), entry.weight);
    }
    return result;
}

OrderedText order_key(std::string_view token) { return {order_prefix(token), token}; }
std::int64_t order_key(std::int64_t token) { return token; }

std::string_view key_token(const OrderedText& key) { return key.text; }
std::int64_t key_token(std::int64_t key) { return key; }

// Sorting a document's tokens brings the occurrences of each distinct token
// together, in the order of the result: each run gives one entry and its
// length is the token's frequency, with no hash table and no second sort.
template <typename Vector, typename Tokens>
Vector weigh_document(const Tokens& tokens, double normaliser) {
    using Key = decltype(order_key(tokens.front()));
    std::vector<Key> keys;
    keys.reserve(tokens.size());
    std::transform(tokens.begin(), tokens.end(), std::back_inserter(keys),
                   [](const auto& token) { return order_key(token); });
    std::sort(keys.begin(), keys.end());
    Vector result;
    for (auto run = keys.begin(); run != keys.end();) {
        const auto end =
            std::find_if(run + 1, keys.end(), [&run](const Key& key) { return !(key == *run); });
        const auto tf = static_cast<double>(end - run);
        append(result, key_token(*run), tf / (tf + normaliser));
        run = end;
    }
    return result;
}

// Scales the weights so that they add up to 1; the sum runs in ascending key
// order so that the result does not depend on how the query was ordered.
template <typename Entry>
void normalise(std::vector<Entry>& sorted_weights) {
    const double sum =
        std::accumulate(sorted_weights.begin(), sorted_weights.end(), 0.0,
                        [](double total, const Entry& entry) { return total + entry.weight; });
    for (Entry& entry : sorted_weights) {
        entry.weight /= sum;
    }
}

// Query weights: the IDF of each distinct token, scaled to add up to 1 in
// ascending key order.
template <typename Vector, typename Counts, typename Idf>
Vector weigh_query(const Counts& distinct, Idf idf_of) {
    Weights<decltype(Counts::Entry::token)> weights;
    weights.reserve(distinct.size());
    std::transform(distinct.entries().begin(), distinct.entries().end(),
                   std::back_inserter(weights),
                   [&idf_of](const auto& entry) { return weighed(entry.token, idf_of(entry)); });
    sort_by_token(weights);
    normalise(weights);
    return to_vector<Vector>(weights);
}

}  // namespace

void BM25::require_initialized() const {
    if (_doc_count == 0 || 1e-9 > std::fabs(_doc_length_average - 0.0)) {
        throw std::runtime_error("BM25 has not been initialized");
    }
}

double BM25::length_normaliser(std::size_t length) const {
    const auto n = static_cast<double>(length);
    return ((n / _doc_length_average) * _b + (1.0 - _b)) * _k1;
}

double BM25::idf(std::string_view token_text) const {
    return idf(token_text, hash_token(token_text));
}

double BM25::idf(std::string_view token_text, std::uint64_t hash) const {
    // Widening before adding keeps N + 1 exact at the largest count.
    const double documents_plus_one = static_cast<double>(_doc_count) + 1.0;
    const std::int32_t* frequency = _doc_token_frequency.find(token_text, hash);
    if (frequency == nullptr) {
        return std::log(documents_plus_one / 1.5);
    }
    return std::log(documents_plus_one / (static_cast<double>(*frequency) + 0.5));
}

StringVector BM25::encode_document(const StringTokens& tokens) const {
    if (tokens.empty()) {
        return {};
    }
    require_initialized();
    return weigh_document<StringVector>(tokens, length_normaliser(tokens.size()));
}

IdVector BM25::encode_document(const IdTokens& tokens) const {
    if (tokens.empty()) {
        return {};
    }
    require_initialized();
    return weigh_document<IdVector>(tokens, length_normaliser(tokens.size()));
}

// A repeated token keeps the weight of its first occurrence, and the IDF of a
// token depends on nothing but the token, so each distinct token is weighed
// once.
StringVector BM25::encode_query(const StringTokens& tokens) const {
    if (tokens.empty()) {
        return {};
    }
    require_initialized();
    const StringCounts distinct = count_tokens(tokens);
    prefetch_slots(distinct);
    return weigh_query<StringVector>(distinct, [this](const StringCounts::Entry& entry) {
        return idf(entry.token, entry.hash);
    });
}

IdVector BM25::encode_query(const IdTokens& tokens) const {
    if (tokens.empty()) {
        return {};
    }
    require_initialized();
    char buffer[kMaxIdTextLength];
    return weigh_query<IdVector>(count_tokens(tokens),
                                 [this, &buffer](const IdCounts::Entry& entry) {
                                     return idf(id_text(entry.token, buffer));
                                 });
}

}  // namespace vorn::typing::text
