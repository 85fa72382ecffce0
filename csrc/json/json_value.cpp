#include "json/json_value.h"

#include <type_traits>
#include <utility>

#include "json/escape.h"

namespace vorn::typing::text {

JsonValue::JsonValue(std::string text) : payload_(std::make_unique<std::string>(std::move(text))) {}

JsonValue::JsonValue(const char* text) : JsonValue(std::string(text)) {}

JsonValue::JsonValue(double number) noexcept : payload_(number) {}

JsonValue::JsonValue(std::int32_t number) noexcept : payload_(number) {}

JsonValue::JsonValue(bool flag) noexcept : payload_(flag) {}

JsonValue JsonValue::make(JsonKind kind) {
    JsonValue value;
    switch (kind) {
        case JsonKind::Null:
            break;
        case JsonKind::Object:
            value.payload_ = std::make_unique<Object>();
            break;
        case JsonKind::Array:
            value.payload_ = std::make_unique<Array>();
            break;
        case JsonKind::String:
            value.payload_ = std::make_unique<std::string>();
            break;
        case JsonKind::Float:
            value.payload_.emplace<double>(0.0);
            break;
        case JsonKind::Integer:
            value.payload_.emplace<std::int32_t>(0);
            break;
        case JsonKind::Boolean:
            value.payload_.emplace<bool>(false);
            break;
    }
    return value;
}

JsonValue::Payload JsonValue::clone(const Payload& payload) {
    return std::visit(
        [](const auto& held) -> Payload {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<Held, std::unique_ptr<Object>> ||
                          std::is_same_v<Held, std::unique_ptr<Array>> ||
                          std::is_same_v<Held, std::unique_ptr<std::string>>) {
                return std::make_unique<typename Held::element_type>(*held);
            } else {
                return held;
            }
        },
        payload);
}

JsonValue::JsonValue(const JsonValue& other) : payload_(clone(other.payload_)) {}

JsonValue& JsonValue::operator=(const JsonValue& other) {
    // Copy before releasing: the source may live inside our own subtree.
    Payload copy = clone(other.payload_);
    payload_ = std::move(copy);
    return *this;
}

// NOLINTNEXTLINE(bugprone-exception-escape)
JsonValue::JsonValue(JsonValue&& other) noexcept : payload_(std::move(other.payload_)) {
    other.payload_ = std::monostate{};
}

// NOLINTNEXTLINE(bugprone-exception-escape)
JsonValue& JsonValue::operator=(JsonValue&& other) noexcept {
    // Detach the source before our old payload goes: `v = std::move(v.member(k))`
    // would otherwise reset a source that the release has already destroyed.
    Payload taken = std::move(other.payload_);
    other.payload_ = std::monostate{};
    payload_ = std::move(taken);
    return *this;
}

JsonValue::~JsonValue() = default;

JsonKind JsonValue::kind() const noexcept { return static_cast<JsonKind>(payload_.index()); }

std::int32_t JsonValue::to_integer(bool& ok) const noexcept {
    const auto* number = std::get_if<std::int32_t>(&payload_);
    ok = number != nullptr;
    return ok ? *number : 0;
}

double JsonValue::to_float(bool& ok) const noexcept {
    const auto* number = std::get_if<double>(&payload_);
    ok = number != nullptr;
    return ok ? *number : 0.0;
}

std::string JsonValue::to_string(bool& ok) const {
    const auto* text = std::get_if<std::unique_ptr<std::string>>(&payload_);
    ok = text != nullptr;
    return ok ? escape_string(**text) : std::string();
}

const JsonValue::Object& JsonValue::members() const noexcept {
    // A constant, not shared state: it is never written.
    static const Object kNoMembers;
    const auto* object = std::get_if<std::unique_ptr<Object>>(&payload_);
    return object != nullptr ? **object : kNoMembers;
}

void JsonValue::set_float(double number) { payload_.emplace<double>(number); }

void JsonValue::set_integer(std::int32_t number) { payload_.emplace<std::int32_t>(number); }

JsonValue::Object& JsonValue::object_items() {
    auto* object = std::get_if<std::unique_ptr<Object>>(&payload_);
    if (object == nullptr) {
        return *payload_.emplace<std::unique_ptr<Object>>(std::make_unique<Object>());
    }
    return **object;
}

JsonValue& JsonValue::member(const std::string& key) { return object_items()[key]; }

JsonValue& JsonValue::element(std::uint32_t index) {
    auto* held = std::get_if<std::unique_ptr<Array>>(&payload_);
    Array& array = held != nullptr
                       ? **held
                       : *payload_.emplace<std::unique_ptr<Array>>(std::make_unique<Array>());
    const std::size_t wanted = static_cast<std::size_t>(index) + 1;
    if (array.size() < wanted) {
        array.resize(wanted);
    }
    return array[index];
}

}  // namespace vorn::typing::text
