// The model file: the statistics of a BM25 model as one JSON object.

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "bm25/bm25.h"
#include "bm25/model_members.h"
#include "bm25/model_reader.h"
#include "bm25/model_text.h"
#include "bm25/token_key.h"
#include "json/json_parser.h"
#include "json/json_value.h"
#include "platform/file_error.h"
#include "platform/file_writer.h"

namespace vorn::typing::text {

namespace {

// Every failure of dump begins so; callers match on it.
constexpr std::string_view kFailedToDump = "Failed to dump: ";
// A temporary model file that must be named while it is written is hidden
// under this name, which says whose it is.
constexpr std::string_view kTemporaryPrefix = ".pyvornlex-";

// The serializer spells such values "inf" and "nan", which no parser reads
// back: a file holding one would lose the whole model at the next load.
void require_finite(double value, const char* name) {
    if (!std::isfinite(value)) {
        throw std::invalid_argument(std::string(kFailedToDump) + name + " is not a finite number");
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
    // Everything that allocates happens before the file is opened.
    const ModelText text({_b, _k1, _doc_count, _doc_length_average}, _doc_token_frequency);
    try {
        write_file_safely(
            path, [&text](const ContentSink& sink) { text.write(sink); }, kTemporaryPrefix);
    } catch (const PathError& error) {
        throw std::invalid_argument(std::string(kFailedToDump) + error.what());
    } catch (const FileError& error) {
        throw std::runtime_error(std::string(kFailedToDump) + error.what());
    }
}

void BM25::load(std::string_view json_text) { load_text(json_text); }

void BM25::load(const WideText& json_text) {
    std::visit([this](const auto& text) { load_text(text); }, json_text);
}

template <typename Text>
void BM25::load_text(const Text& json_text) {
    if (json_text.empty()) {
        throw std::runtime_error("json data should not be empty");
    }
    // Model files as dump writes them, and any other text that parse would
    // read without a word, go straight into the table; the rest through the
    // tree, which gives parse's messages and exceptions. Either way a token
    // key's "\u" escapes (which other JSON writers use for every character
    // beyond ASCII, and dump never writes) stand for the characters they
    // name; a key holding half a surrogate pair refuses the whole file.
    ModelScan scan;
    if (!scan_model_text(json_text, scan)) {
        if constexpr (std::is_same_v<Text, std::string_view>) {
            load_through_tree(json_text);
        } else {
            load_through_tree(utf8_of(json_text));
        }
        return;
    }
    if (scan.has_tokens) {
        read_model_tokens(json_text, scan, _doc_token_frequency, _frequency_bound);
    }
    assign_scalars(scan.doc_count, scan.doc_length_average, scan.b, scan.k1);
}

void BM25::load_through_tree(std::string_view json_text) {
    JsonValue root;
    try {
        root = JsonValue::parse_decoding_keys_of(json_text, kMemberTokens);
    } catch (const LoneSurrogateError& error) {
        throw std::runtime_error("load failed: lone surrogate escape " + error.escape() +
                                 " in a token key; the model is unchanged");
    }

    // The token object is moved out rather than copied: nothing reads it again.
    const JsonValue tokens = std::move(root.member(std::string(kMemberTokens)));
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
    assign_scalars(root.member(std::string(kMemberDocCount)),
                   root.member(std::string(kMemberAverage)), root.member(std::string(kMemberB)),
                   root.member(std::string(kMemberK1)));
}

void BM25::assign_scalars(const JsonValue& doc_count, const JsonValue& doc_length_average,
                          const JsonValue& b, const JsonValue& k1) {
    // The file carries no running total; rebuilding it from the count and the
    // average, whenever either changes, lets further training continue the
    // loaded corpus's average.
    bool ok = false;
    _doc_count = doc_count.to_integer(ok);
    rebuild_length_total();
    require(ok, "load doc_count failed");
    _doc_length_average = doc_length_average.to_float(ok);
    rebuild_length_total();
    require(ok, "load doc_length_average failed");
    _b = b.to_float(ok);
    require(ok, "load b failed");
    _k1 = k1.to_float(ok);
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
