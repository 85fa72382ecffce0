// Entry point of the pyvornlex extension module.

#include <pybind11/pybind11.h>

#include "python/bind_bm25.h"
#include "python/bind_jieba.h"

PYBIND11_MODULE(pyvornlex, module) {
    vorn::typing::text::bind_bm25(module);
    vorn::typing::text::bind_jieba(module);
}
