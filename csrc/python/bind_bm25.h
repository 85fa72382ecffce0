#pragma once
// Registers the Python class BM25 on the module.

#include <pybind11/pybind11.h>

namespace vorn::typing::text {

void bind_bm25(pybind11::module_& module);

}  // namespace vorn::typing::text
