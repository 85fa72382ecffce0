#pragma once
// Registers the Python class Jieba, the facade over cppjieba's segmenter.

#include <pybind11/pybind11.h>

namespace vorn::typing::text {

void bind_jieba(pybind11::module_& module);

}  // namespace vorn::typing::text
