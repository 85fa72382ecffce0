#pragma once
// Lets tests put a model into states that would take billions of documents.

#include "bm25/bm25.h"

namespace vorn::typing::text {

struct BM25TestAccess {
    static void set_doc_count(BM25& model, std::int32_t count) { model._doc_count = count; }
    static void set_average(BM25& model, double average) { model._doc_length_average = average; }
    static void set_frequency(BM25& model, const std::string& token, std::int32_t count) {
        model._doc_token_frequency[token] = count;
        if (count > model._frequency_bound) {
            model._frequency_bound = count;
        }
    }
};

}  // namespace vorn::typing::text
