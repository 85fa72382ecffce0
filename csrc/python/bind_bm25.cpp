// The Python face of the BM25 model: every method converts its argument, calls
// one operation of the native model and converts the result back.

#include "python/bind_bm25.h"

#include <pybind11/stl.h>

#include <memory>

#include "bm25/bm25.h"

namespace py = pybind11;

namespace vorn::typing::text {

void bind_bm25(py::module_& module) {
    // The string overloads are registered first: an empty list converts to
    // both token kinds and must reach the string overload.
    py::class_<BM25, std::shared_ptr<BM25>>(module, "BM25")
        .def(py::init<double, double>(), py::arg("b") = 0.75, py::arg("k1") = 1.2)
        .def("b", [](const BM25& self) { return self.b(); })
        .def("b", [](BM25& self, double value) { self.b(value); })
        .def("k1", [](const BM25& self) { return self.k1(); })
        .def("k1", [](BM25& self, double value) { self.k1(value); })
        .def("train", py::overload_cast<const StringTokens&>(&BM25::train))
        .def("train", py::overload_cast<const IdTokens&>(&BM25::train))
        .def("load", &BM25::load)
        .def("dump", &BM25::dump)
        .def("encode_document",
             py::overload_cast<const StringTokens&>(&BM25::encode_document, py::const_))
        .def("encode_document",
             py::overload_cast<const IdTokens&>(&BM25::encode_document, py::const_))
        .def("encode_query",
             py::overload_cast<const StringTokens&>(&BM25::encode_query, py::const_))
        .def("encode_query", py::overload_cast<const IdTokens&>(&BM25::encode_query, py::const_));
}

}  // namespace vorn::typing::text
