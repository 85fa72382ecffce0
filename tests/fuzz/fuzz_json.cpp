// Parses arbitrary bytes and serializes whatever comes out. Beyond memory and
// undefined-behaviour faults it checks that the serializer's output is stable:
// reading it back and writing it again gives the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>

#include "json/json_value.h"

using vorn::typing::text::JsonValue;

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    // The parser's messages would drown the fuzzer's own output; sanitizer
    // reports go to the file descriptor directly and stay visible.
    std::cerr.setstate(std::ios_base::badbit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string written;
    try {
        written = JsonValue::parse(text).serialize(1, "  ");
    } catch (const std::invalid_argument&) {
        return 0;  // number text that does not convert
    } catch (const std::out_of_range&) {
        return 0;
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
