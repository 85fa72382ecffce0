#include "json/code_units.h"

namespace vorn::typing::text {

void append_utf8(std::string& out, std::uint32_t code) {
    char bytes[kMostUtf8Bytes];
    out.append(bytes, static_cast<std::size_t>(write_utf8(&code, 1, bytes) - bytes));
}

std::string utf8_of(const WideText& text) {
    return std::visit(
        [](const auto& units) {
            std::string out(units.size() * kMostUtf8Bytes, '\0');
            out.resize(static_cast<std::size_t>(write_utf8(units.data(), units.size(), out.data()) -
                                                out.data()));
            return out;
        },
        text);
}

}  // namespace vorn::typing::text
