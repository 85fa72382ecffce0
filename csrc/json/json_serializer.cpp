#include <string>
#include <type_traits>
#include <utility>

#include "json/json_value.h"
#include "json/object_writer.h"

namespace vorn::typing::text {

std::string JsonValue::serialize(int depth, const std::string& indent) const {
    std::string out;
    serialize_to(out, depth, indent);
    return out;
}

void JsonValue::serialize_to(std::string& out, int depth, std::string_view indent) const {
    std::visit(
        [&](const auto& held) {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<Held, std::monostate>) {
                out += "null";
            } else if constexpr (std::is_same_v<Held, bool>) {
                out += held ? "true" : "false";
            } else if constexpr (std::is_same_v<Held, std::int32_t>) {
                write_integer(out, held);
            } else if constexpr (std::is_same_v<Held, double>) {
                write_float(out, held);
            } else if constexpr (std::is_same_v<Held, std::unique_ptr<std::string>>) {
                write_string(out, *held);
            } else if constexpr (std::is_same_v<Held, std::unique_ptr<Array>>) {
                // Arrays stay on one line whatever their content.
                out += '[';
                const char* separator = "";
                for (const JsonValue& item : *held) {
                    out += separator;
                    item.serialize_to(out, depth + 1, indent);
                    separator = ", ";
                }
                out += ']';
            } else {
                // Keys are written as held: keys read by the parser are already escaped.
                ObjectWriter object(out, depth, indent);
                for (const auto& [key, item] : *held) {
                    object.key(key);
                    item.serialize_to(out, depth + 1, indent);
                }
                object.close();
            }
        },
        payload_);
}

}  // namespace vorn::typing::text
