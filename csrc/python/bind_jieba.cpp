// The Python face of cppjieba's segmenter. Construction goes through the
// tokenizer's checks, whose faults become the Python errors a failed open()
// or a bad value would give; the cuts run without the interpreter lock,
// since they only read loaded data.

#include "python/bind_jieba.h"

#include <pybind11/stl.h>

#include <cppjieba/Jieba.hpp>
#include <string>
#include <system_error>
#include <vector>

#include "python/holder.h"
#include "tokenizer/segmenter.h"

namespace py = pybind11;

namespace vorn::typing::text {
namespace {

using Segmenter = Holder<cppjieba::Jieba>;

// Paths may have come in as bytes: decode them as the interpreter decodes
// file names, so that any byte sequence gives a str.
py::object path_object(const std::string& path) {
    PyObject* decoded =
        PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size()));
    if (decoded == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(decoded);
}

// OSError's constructor picks the subclass that matches the errno
// (FileNotFoundError, PermissionError, IsADirectoryError, ...).
[[noreturn]] void raise_unreadable(const DataFileFault& fault) {
    const py::object error = py::reinterpret_borrow<py::object>(PyExc_OSError)(
        fault.error_number, std::generic_category().message(fault.error_number),
        path_object(fault.path));
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
}

[[noreturn]] void raise_malformed(const DataFileFault& fault) {
    const py::object path = path_object(fault.path);
    if (fault.line == 0) {
        PyErr_Format(PyExc_ValueError, "%U: %s", path.ptr(), fault.reason.c_str());
    } else {
        PyErr_Format(PyExc_ValueError, "%U, line %zu: %s", path.ptr(), fault.line,
                     fault.reason.c_str());
    }
    throw py::error_already_set();
}

Segmenter construct(const std::string& dict_path, const std::string& hmm_path,
                    const std::string& user_dict_path, const std::string& idf_path,
                    const std::string& stop_word_path) {
    try {
        return make_segmenter({dict_path, hmm_path, user_dict_path, idf_path, stop_word_path});
    } catch (const DataFileError& error) {
        if (error.fault().kind == DataFileFault::Kind::unreadable) {
            raise_unreadable(error.fault());
        }
        raise_malformed(error.fault());
    }
}

}  // namespace

void bind_jieba(py::module_& module) {
    py::class_<cppjieba::Jieba, Segmenter>(module, "Jieba")
        .def(py::init(&construct), py::arg("dict_path"), py::arg("hmm_path"),
             py::arg("user_dict_path"), py::arg("idf_path"), py::arg("stop_word_path"))
        .def(
            "cut",
            [](const Segmenter& self, const std::string& sentence) { return cut(*self, sentence); },
            py::arg("sentence"), py::call_guard<py::gil_scoped_release>())
        .def(
            "cut_for_search",
            [](const Segmenter& self, const std::string& sentence) {
                return cut_for_search(*self, sentence);
            },
            py::arg("sentence"), py::call_guard<py::gil_scoped_release>());
}

}  // namespace vorn::typing::text
