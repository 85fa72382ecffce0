// Document and query encoding of the BM25 model.

#include <cmath>
#include <numeric>
#include <stdexcept>

#include "bm25/bm25.h"
#include "bm25/token_text.h"

namespace vorn::typing::text {

namespace {

template <typename Vector, typename Counts>
Vector weigh_counts(const Counts& counts, double normaliser) {
    Vector weights;
    for (const auto& [token, occurrences] : counts) {
        const auto tf = static_cast<double>(occurrences);
        weights.emplace(typename Vector::key_type(token), tf / (tf + normaliser));
    }
    return weights;
}

// Scales the weights so that they add up to 1; the sum runs in key order so
// that the result does not depend on how the query was ordered.
template <typename Vector>
void normalise(Vector& weights) {
    const double sum =
        std::accumulate(weights.begin(), weights.end(), 0.0,
                        [](double total, const auto& entry) { return total + entry.second; });
    for (auto& entry : weights) {
        entry.second /= sum;
    }
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
    // Widening before adding keeps N + 1 exact at the largest count.
    const double documents_plus_one = static_cast<double>(_doc_count) + 1.0;
    const auto found = _doc_token_frequency.find(std::string(token_text));
    if (found == _doc_token_frequency.end()) {
        return std::log(documents_plus_one / 1.5);
    }
    return std::log(documents_plus_one / (static_cast<double>(found->second) + 0.5));
}

StringVector BM25::encode_document(const StringTokens& tokens) const {
    if (tokens.empty()) {
        return {};
    }
    require_initialized();
    return weigh_counts<StringVector>(count_tokens(tokens), length_normaliser(tokens.size()));
}

IdVector BM25::encode_document(const IdTokens& tokens) const {
    if (tokens.empty()) {
        return {};
    }
    require_initialized();
    return weigh_counts<IdVector>(count_tokens(tokens), length_normaliser(tokens.size()));
}

StringVector BM25::encode_query(const StringTokens& tokens) const {
    if (tokens.empty()) {
        return {};
    }
    require_initialized();
    StringVector weights;
    for (const auto& token : tokens) {
        double& weight = weights.try_emplace(token, 0.0).first->second;
        // A repeated token keeps the weight of its first occurrence.
        if (1e-9 > std::fabs(weight - 0.0)) {
            weight = idf(token);
        }
    }
    normalise(weights);
    return weights;
}

IdVector BM25::encode_query(const IdTokens& tokens) const {
    if (tokens.empty()) {
        return {};
    }
    require_initialized();
    IdVector weights;
    char buffer[kMaxIdTextLength];
    for (const auto token : tokens) {
        double& weight = weights.try_emplace(token, 0.0).first->second;
        if (1e-9 > std::fabs(weight - 0.0)) {
            weight = idf(id_text(token, buffer));
        }
    }
    normalise(weights);
    return weights;
}

}  // namespace vorn::typing::text
