#pragma once
// Everything a load leaves behind, so that two ways of loading one text can
// be compared: the exception, the lines on standard error, and the model's
// state. Shared by the unit tests and the model-file fuzzer.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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

// The code points of a UTF-8 text, or nothing when it is not UTF-8 or holds
// a surrogate (a Python str cannot hold such text as code points).
inline std::optional<std::vector<std::uint32_t>> code_points_of(std::string_view utf8) {
    std::vector<std::uint32_t> points;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = lead < 0x80   ? 1
                                   : lead < 0xC2 ? 0
                                   : lead < 0xE0 ? 2
                                   : lead < 0xF0 ? 3
                                   : lead < 0xF5 ? 4
                                                 : 0;
        if (length == 0 || i + length > utf8.size()) {
            return std::nullopt;
        }
        std::uint32_t code = length == 1 ? lead : lead & (0xFFU >> (length + 1));
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0U) != 0x80U) {
                return std::nullopt;
            }
            code = (code << 6U) | (next & 0x3FU);
        }
        const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
            return std::nullopt;
        }
        points.push_back(code);
        i += length;
    }
    return points;
}

// load of the same text held as code points of every width that holds them
// (Latin-1, UCS-2, UCS-4), each on a copy of `start`.
inline std::vector<LoadOutcome> loaded_as_code_points(const BM25& start,
                                                      const std::vector<std::uint32_t>& points) {
    std::vector<LoadOutcome> outcomes;
    std::uint32_t largest = 0;
    for (const std::uint32_t point : points) {
        largest = std::max(largest, point);
    }
    const auto load = [&](const WideText& text) {
        BM25 model = start;
        outcomes.push_back(outcome_of(model, [&] { model.load(text); }));
    };
    const std::vector<std::uint8_t> latin1(points.begin(), points.end());
    const std::vector<std::uint16_t> ucs2(points.begin(), points.end());
    if (largest <= 0xFF) {
        load(Latin1Text(latin1.data(), latin1.size()));
    }
    if (largest <= 0xFFFF) {
        load(Ucs2Text(ucs2.data(), ucs2.size()));
    }
    load(Ucs4Text(points.data(), points.size()));
    return outcomes;
}

}  // namespace vorn::typing::text
