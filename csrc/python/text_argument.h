#pragma once
// The text that BM25.load takes from Python: the UTF-8 bytes of a str, or the
// bytes of a bytes or bytearray object, as a view. pybind11's own conversion
// asks CPython for a str's UTF-8 form, which CPython builds in a buffer three
// times the text's length, copies into one that stays with the str for the
// str's whole life, and which both cost a fault every 4 KiB; a model file of
// a hundred megabytes paid for that twice over. Here a str that has no UTF-8
// form yet is encoded once, into storage that lives as long as the call
// (reserved for the longest form, faulted in only as far as it is written).

#include <Python.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <string_view>

#include "bm25/large_allocator.h"

namespace vorn::typing::text {

class TextArgument {
  public:
    std::string_view view() const noexcept { return view_; }

    // False for an object that is not a str, bytes or bytearray, and for a
    // str that has no UTF-8 form (one holding a surrogate code point): the
    // same objects that pybind11's conversion of a str refuses.
    bool load(PyObject* source);

  private:
    std::string_view view_;
    std::optional<LargeBlock> storage_;
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
