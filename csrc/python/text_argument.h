#pragma once
// The text that BM25.load takes from Python, as a view: the bytes of a bytes
// or bytearray object, the UTF-8 of a str that has it at hand (ASCII, or a
// UTF-8 form CPython already made), or else the str's own code points, which
// the model reads as their UTF-8 form (WideText, as BM25::load takes it).
// pybind11's own conversion asks CPython for a str's UTF-8 form, which
// CPython builds in a buffer three times the text's length and copies into
// one that stays with the str for its whole life: a model file of a hundred
// megabytes paid for that twice over, in time and in memory faulted in.

#include <Python.h>
#include <pybind11/pybind11.h>

#include <string_view>
#include <variant>

#include "bm25/bm25.h"

namespace vorn::typing::text {

class TextArgument {
  public:
    // Calls `read` with a std::string_view of UTF-8 or with a WideText.
    template <typename Read>
    void read(Read&& read) const {
        if (const auto* utf8 = std::get_if<std::string_view>(&text_)) {
            read(*utf8);
        } else {
            read(std::get<WideText>(text_));
        }
    }

    // False for an object that is not a str, bytes or bytearray, and for a
    // str that has no UTF-8 form (one holding a surrogate code point): the
    // same objects that pybind11's conversion of a str refuses.
    bool load(PyObject* source);

  private:
    std::variant<std::string_view, WideText> text_;
};

}  // namespace vorn::typing::text

namespace pybind11::detail {

template <>
struct type_caster<vorn::typing::text::TextArgument> {
    // Named like a str argument, so that signatures and errors read as before.
    PYBIND11_TYPE_CASTER(vorn::typing::text::TextArgument, const_name("str"));

    bool load(handle source, bool /*convert*/) { return value.load(source.ptr()); }
};

}  // namespace pybind11::detail
