#include "python/text_argument.h"

#include <cstddef>
#include <cstdint>

namespace vorn::typing::text {

namespace {

// Whether any of the code units is a surrogate, which UTF-8 cannot carry: one
// pass that the compiler makes wide, over a text the model then reads once
// or twice.
template <typename Unit>
bool holds_surrogate(const void* data, std::size_t count) {
    const auto* units = static_cast<const Unit*>(data);
    std::uint32_t found = 0;
    for (std::size_t i = 0; i < count; ++i) {
        found |=
            static_cast<std::uint32_t>(static_cast<std::uint32_t>(units[i]) - 0xD800U < 0x800U);
    }
    return found != 0;
}

}  // namespace

bool TextArgument::load(PyObject* source) {
    if (PyBytes_Check(source)) {
        text_ = std::string_view(PyBytes_AS_STRING(source),
                                 static_cast<std::size_t>(PyBytes_GET_SIZE(source)));
        return true;
    }
    if (PyByteArray_Check(source)) {
        text_ = std::string_view(PyByteArray_AS_STRING(source),
                                 static_cast<std::size_t>(PyByteArray_GET_SIZE(source)));
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
    const void* data = PyUnicode_DATA(source);
    if (PyUnicode_IS_ASCII(source)) {
        text_ = std::string_view(static_cast<const char*>(data), length);
        return true;
    }
    // A UTF-8 form that CPython already made is used as it is.
    const auto* compact = reinterpret_cast<const PyCompactUnicodeObject*>(source);
    if (compact->utf8 != nullptr) {
        text_ = std::string_view(compact->utf8, static_cast<std::size_t>(compact->utf8_length));
        return true;
    }
    switch (PyUnicode_KIND(source)) {
        case PyUnicode_1BYTE_KIND:
            text_ = WideText(Latin1Text(static_cast<const Py_UCS1*>(data), length));
            return true;
        case PyUnicode_2BYTE_KIND:
            if (holds_surrogate<Py_UCS2>(data, length)) {
                return false;
            }
            text_ = WideText(Ucs2Text(static_cast<const Py_UCS2*>(data), length));
            return true;
        default:
            if (holds_surrogate<Py_UCS4>(data, length)) {
                return false;
            }
            text_ = WideText(Ucs4Text(static_cast<const Py_UCS4*>(data), length));
            return true;
    }
}

}  // namespace vorn::typing::text
