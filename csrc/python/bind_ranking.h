#pragma once
// Registers the search tool's native helpers: the posting block codec and the
// exact top-k plan, for pyvornlex_search (not part of pyvornlex's surface).

#include <pybind11/pybind11.h>

namespace vorn::typing::text {

void bind_ranking(pybind11::module_& module);

}  // namespace vorn::typing::text
