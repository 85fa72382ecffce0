#pragma once
// Everything a load leaves behind, so that two ways of loading one text can
// be compared: the exception, the lines on standard error, and the model's
// state. Shared by the unit tests and the model-file fuzzer.

#include <cstdint>
#include <cstring>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "bm25/bm25.h"
#include "test_access.h"

namespace vorn::typing::text {

struct LoadOutcome {
    std::string thrown;  // "<kind>: <message>", or empty when load returned
    std::string err;     // what load wrote to standard error
    Table table;
    std::int32_t doc_count = 0;
    std::int64_t doc_length_total = 0;
    std::uint64_t average_bits = 0;  // bits, so that a NaN equals itself
    std::uint64_t b_bits = 0;
    std::uint64_t k1_bits = 0;

    bool operator==(const LoadOutcome& other) const {
        return thrown == other.thrown && err == other.err && table == other.table &&
               doc_count == other.doc_count && doc_length_total == other.doc_length_total &&
               average_bits == other.average_bits && b_bits == other.b_bits &&
               k1_bits == other.k1_bits;
    }
    bool operator!=(const LoadOutcome& other) const { return !(*this == other); }
};

inline std::uint64_t bits_of(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Runs `load` on `model` with standard error captured.
template <typename Load>
LoadOutcome outcome_of(BM25& model, Load&& load) {
    LoadOutcome outcome;
    std::ostringstream err;
    std::streambuf* const previous = std::cerr.rdbuf(err.rdbuf());
    try {
        load();
    } catch (const std::invalid_argument& error) {
        outcome.thrown = std::string("invalid_argument: ") + error.what();
    } catch (const std::out_of_range& error) {
        outcome.thrown = std::string("out_of_range: ") + error.what();
    } catch (const std::runtime_error& error) {
        outcome.thrown = std::string("runtime_error: ") + error.what();
    } catch (const std::logic_error& error) {
        outcome.thrown = std::string("logic_error: ") + error.what();
    }
    std::cerr.rdbuf(previous);
    outcome.err = err.str();
    outcome.table = table_of(model);
    outcome.doc_count = model.doc_count();
    outcome.doc_length_total = model.doc_length_total();
    outcome.average_bits = bits_of(model.doc_length_average());
    outcome.b_bits = bits_of(model.b());
    outcome.k1_bits = bits_of(model.k1());
    return outcome;
}

// load as the module runs it, and load through the tree alone, each on a
// copy of `start`.
inline LoadOutcome loaded(const BM25& start, std::string_view text) {
    BM25 model = start;
    return outcome_of(model, [&] { model.load(text); });
}

inline LoadOutcome loaded_through_tree(const BM25& start, std::string_view text) {
    BM25 model = start;
    return outcome_of(model, [&] { BM25TestAccess::load_through_tree(model, text); });
}

}  // namespace vorn::typing::text
