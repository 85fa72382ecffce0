#include "json/object_writer.h"

#include <charconv>
#include <cstring>

#include "json/escape.h"
#include "json/number_text.h"
#include "json/short_copy.h"

namespace vorn::typing::text {

namespace {

constexpr std::size_t kMaxIntegerLength = 11;  // "-2147483648"
constexpr std::string_view kAfterKey = "\" : ";

}  // namespace

ObjectWriter::ObjectWriter(std::string& out, int depth, std::string_view indent) : out_(out) {
    for (int level = 0; level < depth; ++level) {
        pad_ += indent;
    }
    opening_ = ",\n" + pad_ + '"';
    out_ += "{\n";
}

void ObjectWriter::key(std::string_view key) {
    out_.append(opening_, first_ ? 2 : 0, std::string::npos);
    first_ = false;
    out_ += key;
    out_ += kAfterKey;
}

void ObjectWriter::integer_member(std::string_view key, std::int32_t value) {
    append_integer_member<false>(key, value);
}

void ObjectWriter::integer_member_padded(std::string_view key, std::int32_t value) {
    append_integer_member<true>(key, value);
}

template <bool kPadded>
void ObjectWriter::append_integer_member(std::string_view key, std::int32_t value) {
    constexpr std::size_t kShortLine = 128;
    const std::size_t room = opening_.size() + key.size() + kPaddedText + kMaxIntegerLength;
    if (room > kShortLine) {
        this->key(key);
        write_integer(out_, value);
        return;
    }
    // The line is put together here and appended in one piece.
    char line[kShortLine];
    const std::size_t skip = first_ ? 2 : 0;
    first_ = false;
    char* end = line;
    copy_short(end, opening_.data() + skip, opening_.size() - skip);
    end += opening_.size() - skip;
    if (kPadded && key.size() <= kPaddedText) {
        std::memcpy(end, key.data(), kPaddedText);
    } else {
        copy_short(end, key.data(), key.size());
    }
    end += key.size();
    std::memcpy(end, kAfterKey.data(), kAfterKey.size());
    end += kAfterKey.size();
    end = std::to_chars(end, line + kShortLine, value).ptr;
    out_.append(line, static_cast<std::size_t>(end - line));
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
