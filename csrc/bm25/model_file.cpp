// The model file: the statistics of a BM25 model as one JSON object.

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bm25/bm25.h"
#include "bm25/file_writer.h"
#include "bm25/model_text.h"
#include "bm25/token_key.h"
#include "json/json_value.h"

namespace vorn::typing::text {

namespace {

// The serializer spells such values "inf" and "nan", which no parser reads
// back: a file holding one would lose the whole model at the next load.
void require_finite(double value, const char* name) {
    if (!std::isfinite(value)) {
        throw std::invalid_argument(std::string("Failed to dump: ") + name +
                                    " is not a finite number");
    }
}

void require(bool ok, const char* error) {
    if (!ok) {
        throw std::runtime_error(error);
    }
}

}  // namespace

void BM25::dump(const std::string& path) const {
    require_finite(_b, "b");
    require_finite(_k1, "k1");
    require_finite(_doc_length_average, "doc_length_average");
    // The scalars go through the serializer; the token object is left empty
    // there and its members are written straight from the table.
    JsonValue root = JsonValue::make(JsonKind::Object);
    root.member("_doc_token_frequency") = JsonValue::make(JsonKind::Object);
    root.member("_doc_count").set_integer(_doc_count);
    root.member("_doc_length_average").set_float(_doc_length_average);
    root.member("_b").set_float(_b);
    root.member("_k1").set_float(_k1);
    write_file_safely(path, with_token_members(root.serialize(1, "  "), _doc_token_frequency));
}

void BM25::load(const std::string& json_text) {
    if (json_text.empty()) {
        throw std::runtime_error("json data should not be empty");
    }
    JsonValue root = JsonValue::parse(json_text);

    // The token object is moved out rather than copied: nothing reads it again.
    const JsonValue tokens = std::move(root.member("_doc_token_frequency"));
    if (tokens.kind() == JsonKind::Object) {
        _doc_token_frequency.reserve(_doc_token_frequency.size() + tokens.members().size());
        for (const auto& [key, value] : tokens.members()) {
            bool ok = false;
            const std::int32_t count = value.to_integer(ok);
            _doc_token_frequency[token_of_key(key)] = count;
            _frequency_bound = std::max(_frequency_bound, count);
            require(ok, "load doc_token_frequency failed");
        }
    }

    // The file carries no running total; rebuilding it from the count and the
    // average, whenever either changes, lets further training continue the
    // loaded corpus's average.
    bool ok = false;
    _doc_count = root.member("_doc_count").to_integer(ok);
    rebuild_length_total();
    require(ok, "load doc_count failed");
    _doc_length_average = root.member("_doc_length_average").to_float(ok);
    rebuild_length_total();
    require(ok, "load doc_length_average failed");
    _b = root.member("_b").to_float(ok);
    require(ok, "load b failed");
    _k1 = root.member("_k1").to_float(ok);
    require(ok, "load k1 failed");
}

void BM25::rebuild_length_total() noexcept {
    const double total = std::round(static_cast<double>(_doc_count) * _doc_length_average);
    constexpr double kLimit = 9.2e18;  // inside the range of std::int64_t
    if (std::isnan(total)) {
        _doc_length_total = 0;
    } else {
        _doc_length_total = static_cast<std::int64_t>(std::clamp(total, -kLimit, kLimit));
    }
}

}  // namespace vorn::typing::text
