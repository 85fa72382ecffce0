// The Python face of the BM25 model: every method converts its argument, calls
// one operation of the native model and converts the result back.

#include "python/bind_bm25.h"

#include <pybind11/stl.h>

#include "bm25/bm25.h"
#include "python/holder.h"
#include "python/text_argument.h"

namespace py = pybind11;

namespace vorn::typing::text {

void bind_bm25(py::module_& module) {
    using Model = Holder<BM25>;
    // The string overloads are registered first: an empty list converts to
    // both token kinds and must reach the string overload.
    py::class_<BM25, Model>(module, "BM25")
        .def(py::init<double, double>(), py::arg("b") = 0.75, py::arg("k1") = 1.2)
        .def("b", [](const Model& self) { return self->b(); })
        .def("b", [](const Model& self, double value) { self->b(value); })
        .def("k1", [](const Model& self) { return self->k1(); })
        .def("k1", [](const Model& self, double value) { self->k1(value); })
        .def("train", [](const Model& self, const StringTokens& tokens) { self->train(tokens); })
        .def("train", [](const Model& self, const IdTokens& tokens) { self->train(tokens); })
        // A model file can be a hundred megabytes: its text arrives as a view
        // (see text_argument.h).
        .def("load",
             [](const Model& self, const TextArgument& text) {
                 text.read([&self](const auto& view) { self->load(view); });
             })
        .def("dump", [](const Model& self, const std::string& path) { self->dump(path); })
        .def("encode_document",
             [](const Model& self, const StringTokens& tokens) {
                 return self->encode_document(tokens);
             })
        .def(
            "encode_document",
            [](const Model& self, const IdTokens& tokens) { return self->encode_document(tokens); })
        .def("encode_query", [](const Model& self,
                                const StringTokens& tokens) { return self->encode_query(tokens); })
        .def("encode_query",
             [](const Model& self, const IdTokens& tokens) { return self->encode_query(tokens); });
}

}  // namespace vorn::typing::text
