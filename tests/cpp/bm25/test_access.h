#pragma once
// Lets tests put a model into states that would take billions of documents.

#include <map>
#include <string>
#include <string_view>

#include "bm25/bm25.h"

namespace vorn::typing::text {

struct BM25TestAccess {
    static void set_doc_count(BM25& model, std::int32_t count) { model._doc_count = count; }
    static void set_average(BM25& model, double average) { model._doc_length_average = average; }
    // load as it reads every text that the strict reader gives up on.
    static void load_through_tree(BM25& model, std::string_view text) {
        model.load_through_tree(text);
    }
    static void set_frequency(BM25& model, const std::string& token, std::int32_t count) {
        model._doc_token_frequency[token] = count;
        if (count > model._frequency_bound) {
            model._frequency_bound = count;
        }
    }
};

// The token table as an ordered map, for comparisons in tests.
using Table = std::map<std::string, std::int32_t>;

inline Table table_of(const BM25& model) {
    Table table;
    for (const auto& entry : model.doc_token_frequency()) {
        table.emplace(entry.token(), entry.count);
    }
    return table;
}

}  // namespace vorn::typing::text
