#pragma once
// BM25 term-weighting model: corpus statistics gathered one document at a
// time, and the encoders that turn documents and queries into sparse vectors
// whose inner product is a BM25 score.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "json/code_units.h"
#include "token_table/token_counts.h"
#include "token_table/token_table.h"

namespace vorn::typing::text {

class JsonValue;

using StringTokens = std::vector<std::string>;
using IdTokens = std::vector<std::int64_t>;
using StringVector = std::map<std::string, double>;
using IdVector = std::map<std::int64_t, double>;
// Views point into the token list that was counted; it must outlive them.
using StringCounts = TokenCounts<std::string_view>;
using IdCounts = TokenCounts<std::int64_t>;
using TokenFrequencyTable = TokenTable;

class BM25 {
  public:
    BM25(double b, double k1);

    double b() const { return _b; }
    void b(double value) { _b = value; }
    double k1() const { return _k1; }
    void k1(double value) { _k1 = value; }

    // Adds one document. Throws std::runtime_error for an empty list and
    // std::overflow_error, changing nothing, when a 32-bit count would overflow.
    void train(const StringTokens& tokens_vec);
    void train(const IdTokens& tokens_vec);

    // Writes the statistics as a JSON model file; a failed dump raises and
    // leaves any earlier file at the path untouched.
    void dump(const std::string& path) const;
    // Sets the statistics from the text (not the path) of a model file.
    // Token keys may spell characters as "\u" escapes; one that is half a
    // surrogate pair throws std::runtime_error and changes nothing.
    void load(std::string_view json_text);
    // The same for a text held as code points (a Python str's form), read as
    // its UTF-8 form without making that form.
    void load(const WideText& json_text);

    StringVector encode_document(const StringTokens& tokens) const;
    IdVector encode_document(const IdTokens& tokens) const;
    StringVector encode_query(const StringTokens& tokens) const;
    IdVector encode_query(const IdTokens& tokens) const;

    // ln((N + 1) / (f + 0.5)); a token never seen is weighted as if f were 1.
    double idf(std::string_view token_text) const;

    static StringCounts count_tokens(const StringTokens& tokens);
    static StringCounts count_tokens(StringTokens&& tokens) = delete;
    static IdCounts count_tokens(const IdTokens& tokens);

    std::int32_t doc_count() const { return _doc_count; }
    std::int64_t doc_length_total() const { return _doc_length_total; }
    double doc_length_average() const { return _doc_length_average; }
    const TokenFrequencyTable& doc_token_frequency() const { return _doc_token_frequency; }

  private:
    friend struct BM25TestAccess;

    template <typename Counts>
    void merge_document(const Counts& counts, std::size_t length);
    // Starts loading the table slots of every counted token, so that their
    // lookups wait for memory together rather than one after another. An id
    // is hashed by its text, which is not known before the lookup itself.
    void prefetch_slots(const StringCounts& counts) const;
    static void prefetch_slots(const IdCounts&) {}
    void require_initialized() const;
    double length_normaliser(std::size_t length) const;
    double idf(std::string_view token_text, std::uint64_t hash) const;
    void rebuild_length_total() noexcept;
    template <typename Text>
    void load_text(const Text& json_text);
    void load_through_tree(std::string_view json_text);
    // The steps of load after the token table, in the file's failure order.
    void assign_scalars(const JsonValue& doc_count, const JsonValue& doc_length_average,
                        const JsonValue& b, const JsonValue& k1);

    double _b;
    double _k1;
    std::int32_t _doc_count = 0;
    std::int64_t _doc_length_total = 0;
    double _doc_length_average = 0.0;
    TokenFrequencyTable _doc_token_frequency;
    // Upper bound of every entry of _doc_token_frequency, so that training can
    // skip the overflow check for documents that cannot reach the limit.
    std::int32_t _frequency_bound = 0;
    // Counting storage reused from one trained document to the next; it holds
    // nothing between calls.
    StringCounts _string_counts{0};
    IdCounts _id_counts{0};
};

}  // namespace vorn::typing::text
