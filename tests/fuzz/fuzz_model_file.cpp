// Loads arbitrary bytes as the text of a model file and dumps whatever was
// loaded. Beyond memory and undefined-behaviour faults it checks that load,
// which reads most texts without a tree, leaves exactly what loading through
// the tree leaves (the exception, the messages, the state), into a new model
// and into one that holds tokens already, also from the text's code points
// where it has them; that dump writes exactly the
// serializer's text of the model's tree; and that nothing is lost on the way:
// a file that dump wrote loads without an error into a new model and dumps
// again to the same text. The loaded model is then trained and used to
// encode, since a file can carry counts that training never makes.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bm25/bm25.h"
#include "bm25/token_key.h"
#include "json/json_value.h"
#include "load_outcome.h"

using vorn::typing::text::BM25;
using vorn::typing::text::JsonKind;
using vorn::typing::text::JsonValue;
using vorn::typing::text::key_of_token;
using vorn::typing::text::StringTokens;

namespace {

// A file in memory where the machine has one: dump syncs every file it writes.
std::string dump_path() {
    const char* directory = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(directory) + "/fuzz_model_file-" + std::to_string(::getpid()) + ".json";
}

std::string dumped(const BM25& model, const std::string& path) {
    model.dump(path);
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Tokens that are in the loaded table and one that is not, so that both
// branches of the IDF meet the loaded counts.
std::vector<std::string> some_tokens(const BM25& model) {
    std::vector<std::string> tokens{"never-seen"};
    for (const auto& entry : model.doc_token_frequency()) {
        if (tokens.size() == 4) {
            break;
        }
        tokens.emplace_back(entry.token());
    }
    return tokens;
}

void exercise(BM25& model) {
    const std::vector<std::string> tokens = some_tokens(model);
    try {
        model.encode_document(tokens);
        model.encode_query(tokens);
        model.encode_query(std::vector<std::int64_t>{42, -1});
    } catch (const std::runtime_error&) {
        // not initialised
    }
    try {
        model.train(tokens);
        model.encode_document(tokens);
        model.encode_query(tokens);
    } catch (const std::runtime_error&) {
        // a count at its limit (std::overflow_error), or not initialised
    }
}

// The model file as the general serializer writes the model's tree.
std::string through_the_tree(const BM25& model) {
    JsonValue root = JsonValue::make(JsonKind::Object);
    JsonValue& tokens = root.member("_doc_token_frequency");
    tokens = JsonValue::make(JsonKind::Object);
    for (const auto& entry : model.doc_token_frequency()) {
        tokens.member(key_of_token(entry.token())).set_integer(entry.count);
    }
    root.member("_doc_count").set_integer(model.doc_count());
    root.member("_doc_length_average").set_float(model.doc_length_average());
    root.member("_b").set_float(model.b());
    root.member("_k1").set_float(model.k1());
    return root.serialize(1, "  ");
}

// load and load through the tree leave the same behind, and so does load of
// the same text held as code points, as a Python str holds it.
void compare_loads(const BM25& start, const std::string& text) {
    if (text.empty()) {
        return;  // load refuses it before reading
    }
    const vorn::typing::text::LoadOutcome outcome = vorn::typing::text::loaded(start, text);
    if (outcome != vorn::typing::text::loaded_through_tree(start, text)) {
        std::abort();
    }
    if (const auto points = vorn::typing::text::code_points_of(text)) {
        for (const auto& wide : vorn::typing::text::loaded_as_code_points(start, *points)) {
            if (wide != outcome) {
                std::abort();
            }
        }
    }
}

// Messages that no load captures go nowhere.
class Discard : public std::streambuf {
  protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    // The parser's messages would drown the fuzzer's own output; sanitizer
    // reports go to the file descriptor directly and stay visible. The
    // comparisons capture them load by load.
    static Discard discard;
    std::cerr.rdbuf(&discard);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    {
        compare_loads(BM25(0.75, 1.2), text);
        BM25 holding(0.3, 0.4);
        holding.train(StringTokens{"a", "b", "a", "x\"y", ""});
        compare_loads(holding, text);
    }
    BM25 model(0.75, 1.2);
    try {
        model.load(text);
    } catch (const std::runtime_error&) {
        exercise(model);  // a partial load is a state of its own
        return 0;
    } catch (const std::logic_error&) {
        return 0;  // number text that does not convert
    }

    const std::string path = dump_path();
    // "%f" spells infinities and NaN in words that the parser does not take
    // back, so dump refuses them, and only them.
    const bool finite = std::isfinite(model.b()) && std::isfinite(model.k1()) &&
                        std::isfinite(model.doc_length_average());
    if (!finite) {
        try {
            model.dump(path);
        } catch (const std::invalid_argument&) {
            exercise(model);
            return 0;
        }
        std::abort();
    }
    const std::string written = dumped(model, path);
    if (written != through_the_tree(model)) {
        std::abort();
    }
    {
        BM25 reloaded(0.0, 0.0);
        try {
            reloaded.load(written);
        } catch (const std::exception&) {
            std::abort();
        }
        if (dumped(reloaded, path) != written) {
            std::abort();
        }
    }
    ::unlink(path.c_str());
    exercise(model);
    return 0;
}
