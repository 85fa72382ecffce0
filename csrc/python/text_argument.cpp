#include "python/text_argument.h"

#include <cstddef>
#include <cstdint>

namespace vorn::typing::text {

namespace {

// The most UTF-8 bytes that one code unit of the kind can take.
template <typename Unit>
constexpr std::size_t kMostBytes = sizeof(Unit) == 1   ? 2
                                   : sizeof(Unit) == 2 ? 3
                                                       : 4;

// Writes the UTF-8 form of `count` code points to `out`, which has room for
// the most they can take and three bytes more, and returns its end; sets
// `surrogate` when one of them is a surrogate, which UTF-8 cannot carry. A
// model file mixes ASCII and CJK characters every few code points, which
// defeats branch prediction: code points below 0x10000 are written as three
// bytes chosen without a branch, of which the next code point overwrites
// what is not theirs.
template <typename Unit>
char* encode_utf8(const Unit* units, std::size_t count, char* out, bool& surrogate) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t code = units[i];
        surrogate |= code - 0xD800U < 0x800U;
        if (code >= 0x10000) {
            *out++ = static_cast<char>(0xF0 | (code >> 18));
            *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (code & 0x3F));
            continue;
        }
        const bool one = code < 0x80;
        const bool two = code < 0x800;
        const std::uint32_t last = 0x80 | (code & 0x3F);
        const std::uint32_t middle = 0x80 | ((code >> 6) & 0x3F);
        out[0] = static_cast<char>(one ? code : two ? 0xC0 | (code >> 6) : 0xE0 | (code >> 12));
        out[1] = static_cast<char>(two ? last : middle);
        out[2] = static_cast<char>(last);
        out += 3 - static_cast<std::size_t>(two) - static_cast<std::size_t>(one);
    }
    return out;
}

// The UTF-8 form in storage sized for the most it can take: a second pass to
// measure it would cost more than the pages that are never written, which
// are never faulted in.
template <typename Unit>
std::optional<std::string_view> encoded(const void* data, std::size_t count,
                                        std::optional<LargeBlock>& storage) {
    storage.emplace(count * kMostBytes<Unit> + 3);
    bool surrogate = false;
    const char* const end =
        encode_utf8(static_cast<const Unit*>(data), count, storage->data(), surrogate);
    if (surrogate) {
        storage.reset();
        return std::nullopt;
    }
    return std::string_view(storage->data(), static_cast<std::size_t>(end - storage->data()));
}

}  // namespace

bool TextArgument::load(PyObject* source) {
    if (PyBytes_Check(source)) {
        view_ = {PyBytes_AS_STRING(source), static_cast<std::size_t>(PyBytes_GET_SIZE(source))};
        return true;
    }
    if (PyByteArray_Check(source)) {
        view_ = {PyByteArray_AS_STRING(source),
                 static_cast<std::size_t>(PyByteArray_GET_SIZE(source))};
        return true;
    }
    if (!PyUnicode_Check(source)) {
        return false;
    }
    if (PyUnicode_READY(source) != 0) {
        PyErr_Clear();
        return false;
    }
    const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(source));
    if (PyUnicode_IS_ASCII(source)) {
        view_ = {static_cast<const char*>(PyUnicode_DATA(source)), length};
        return true;
    }
    // A UTF-8 form that CPython already made is used as it is.
    const auto* compact = reinterpret_cast<const PyCompactUnicodeObject*>(source);
    if (compact->utf8 != nullptr) {
        view_ = {compact->utf8, static_cast<std::size_t>(compact->utf8_length)};
        return true;
    }
    const void* data = PyUnicode_DATA(source);
    std::optional<std::string_view> text;
    switch (PyUnicode_KIND(source)) {
        case PyUnicode_1BYTE_KIND:
            text = encoded<Py_UCS1>(data, length, storage_);
            break;
        case PyUnicode_2BYTE_KIND:
            text = encoded<Py_UCS2>(data, length, storage_);
            break;
        default:
            text = encoded<Py_UCS4>(data, length, storage_);
            break;
    }
    if (!text) {
        return false;
    }
    view_ = *text;
    return true;
}

}  // namespace vorn::typing::text
