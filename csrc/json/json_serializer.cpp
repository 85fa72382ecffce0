#include <string>
#include <type_traits>
#include <utility>

#include "json/escape.h"
#include "json/json_value.h"
#include "json/number_text.h"

namespace vorn::typing::text {

namespace {

std::string repeat(const std::string& unit, int times) {
    std::string repeated;
    for (int i = 0; i < times; ++i) {
        repeated += unit;
    }
    return repeated;
}

}  // namespace

std::string JsonValue::serialize(int depth, std::string indent) const {
    const std::string pad = repeat(indent, depth);
    return std::visit(
        [&](const auto& held) -> std::string {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<Held, std::monostate>) {
                return "null";
            } else if constexpr (std::is_same_v<Held, bool>) {
                return held ? "true" : "false";
            } else if constexpr (std::is_same_v<Held, std::int32_t>) {
                return std::to_string(held);
            } else if constexpr (std::is_same_v<Held, double>) {
                return fixed_text(held);
            } else if constexpr (std::is_same_v<Held, std::unique_ptr<std::string>>) {
                return '"' + escape_string(*held) + '"';
            } else if constexpr (std::is_same_v<Held, std::unique_ptr<Array>>) {
                // Arrays stay on one line whatever their content.
                std::string out = "[";
                const char* separator = "";
                for (const JsonValue& item : *held) {
                    out += separator;
                    out += item.serialize(depth + 1, indent);
                    separator = ", ";
                }
                return out + "]";
            } else {
                // Keys are written as held: keys read by the parser are already escaped.
                std::string out = "{\n";
                const char* separator = "";
                for (const auto& [key, item] : *held) {
                    out += separator;
                    out += pad;
                    out += '"';
                    out += key;
                    out += "\" : ";
                    out += item.serialize(depth + 1, indent);
                    separator = ",\n";
                }
                // The closing brace steps back two characters, not one indent unit.
                out += '\n';
                out.append(pad, pad.size() < 2 ? pad.size() : 2, std::string::npos);
                return out + "}";
            }
        },
        payload_);
}

}  // namespace vorn::typing::text
