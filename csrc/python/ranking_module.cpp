// Entry point of pyvornlex_search's native helper module.

#include <pybind11/pybind11.h>

#include "python/bind_ranking.h"

PYBIND11_MODULE(_ranking, module) { vorn::typing::text::bind_ranking(module); }
