// Parses arbitrary bytes and serializes whatever comes out. Beyond memory and
// undefined-behaviour faults it checks that the serializer's output is stable:
// reading it back and writing it again gives the same text. And wherever the
// strict reader accepts the bytes, parse must read the same tree from them
// without a message and without throwing; and a parse that decodes one
// member's keys writes parse's messages.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

#include "json/json_parser.h"
#include "json/json_value.h"
#include "strict_tree.h"

using vorn::typing::text::JsonValue;

namespace {

// The parser's messages go here instead of drowning the fuzzer's output;
// sanitizer reports go to the file descriptor directly and stay visible.
std::ostringstream& messages() {
    static std::ostringstream stream;
    return stream;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    std::cerr.rdbuf(messages().rdbuf());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<JsonValue> strict = vorn::typing::text::test::read_strictly(text);
    messages().str("");
    std::string written;
    try {
        written = JsonValue::parse(text).serialize(1, "  ");
    } catch (const std::invalid_argument&) {
        if (strict) {
            std::abort();  // the strict reader took a text that parse throws on
        }
        return 0;  // number text that does not convert
    } catch (const std::out_of_range&) {
        if (strict) {
            std::abort();
        }
        return 0;
    }
    if (strict && (!messages().str().empty() || strict->serialize(1, "  ") != written)) {
        std::abort();
    }
    // Decoding the escapes of one member's keys changes no message; only
    // half a surrogate pair there may stop it.
    const std::string parse_messages = messages().str();
    messages().str("");
    try {
        JsonValue::parse_decoding_keys_of(text, "t");
        if (messages().str() != parse_messages) {
            std::abort();
        }
    } catch (const vorn::typing::text::LoneSurrogateError&) {
    }
    // "%f" spells infinities and NaN in words that the parser does not take back.
    if (written.find("inf") != std::string::npos || written.find("nan") != std::string::npos) {
        return 0;
    }
    // A number at the very end of a text is not delimited; the space ends it.
    const std::string rewritten = JsonValue::parse(written + " ").serialize(1, "  ");
    if (rewritten != written) {
        std::abort();
    }
    return 0;
}
