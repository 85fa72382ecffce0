#pragma once
// A text held as code points of one width, as a Python str holds it
// (Latin-1, UCS-2 or UCS-4). The JSON it spells is its UTF-8 form, which the
// strict reader reads straight from the code points, without making that
// form: a model file of a hundred megabytes would otherwise be copied whole
// before a byte of it is read.

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

namespace vorn::typing::text {

template <typename Unit>
class UnitText {
  public:
    using value_type = Unit;

    UnitText() = default;
    UnitText(const Unit* data, std::size_t size) : data_(data), size_(size) {}

    const Unit* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Unit operator[](std::size_t pos) const { return data_[pos]; }

  private:
    const Unit* data_ = nullptr;
    std::size_t size_ = 0;
};

using Latin1Text = UnitText<std::uint8_t>;
using Ucs2Text = UnitText<std::uint16_t>;
using Ucs4Text = UnitText<std::uint32_t>;
// A text none of whose code points is a surrogate, which UTF-8 cannot hold.
using WideText = std::variant<Latin1Text, Ucs2Text, Ucs4Text>;

// Appends the UTF-8 form of the code point.
void append_utf8(std::string& out, std::uint32_t code);

// The most bytes that the UTF-8 form of one code point takes.
inline constexpr std::size_t kMostUtf8Bytes = 4;

// Writes the UTF-8 form of `count` code points to `out`, which has room for
// kMostUtf8Bytes a code point, and returns its end.
template <typename Unit>
char* write_utf8(const Unit* units, std::size_t count, char* out) {
    for (std::size_t i = 0; i < count; ++i) {
        const auto code = static_cast<std::uint32_t>(units[i]);
        if (code < 0x80) {
            *out++ = static_cast<char>(code);
        } else if (code < 0x800) {
            *out++ = static_cast<char>(0xC0 | (code >> 6));
            *out++ = static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            *out++ = static_cast<char>(0xE0 | (code >> 12));
            *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (code & 0x3F));
        } else {
            *out++ = static_cast<char>(0xF0 | (code >> 18));
            *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

// The UTF-8 form of the whole text.
std::string utf8_of(const WideText& text);

}  // namespace vorn::typing::text
