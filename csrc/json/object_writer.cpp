#include "json/object_writer.h"

#include <charconv>

#include "json/escape.h"
#include "json/number_text.h"

namespace vorn::typing::text {

namespace {

constexpr std::size_t kMaxIntegerLength = 11;  // "-2147483648"

}  // namespace

ObjectWriter::ObjectWriter(std::string& out, int depth, std::string_view indent) : out_(out) {
    for (int level = 0; level < depth; ++level) {
        pad_ += indent;
    }
    out_ += "{\n";
}

void ObjectWriter::key(std::string_view key) {
    if (!first_) {
        out_ += ",\n";
    }
    first_ = false;
    out_ += pad_;
    out_ += '"';
    out_ += key;
    out_ += "\" : ";
}

void ObjectWriter::close() {
    // The closing brace steps back two characters, not one indent unit.
    out_ += '\n';
    out_.append(pad_, pad_.size() < 2 ? pad_.size() : 2, std::string::npos);
    out_ += '}';
}

void write_integer(std::string& out, std::int32_t number) {
    char digits[kMaxIntegerLength];
    const auto result = std::to_chars(digits, digits + kMaxIntegerLength, number);
    out.append(digits, result.ptr);
}

void write_float(std::string& out, double number) { out += fixed_text(number); }

void write_string(std::string& out, std::string_view raw) {
    out += '"';
    out += escape_string(raw);
    out += '"';
}

}  // namespace vorn::typing::text
