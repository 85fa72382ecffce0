// The Python face of cppjieba's segmenter. Construction checks the data files
// first, because the library answers a bad file by aborting the process; the
// cuts run without the interpreter lock, since they only read loaded data.

#include "tokenizer/bind_jieba.h"

#include <pybind11/stl.h>

#include <cppjieba/Jieba.hpp>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "tokenizer/data_file_check.h"

namespace py = pybind11;

namespace vorn::typing::text {
namespace {

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

// The library hands paths on as C strings, which would end at a NUL and open
// another file than the one named.
void refuse_embedded_nul(const std::string& path, const char* argument) {
    if (path.find('\0') != std::string::npos) {
        PyErr_Format(PyExc_ValueError, "%s: embedded null byte", argument);
        throw py::error_already_set();
    }
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

std::shared_ptr<cppjieba::Jieba> make_jieba(const std::string& dict_path,
                                            const std::string& hmm_path,
                                            const std::string& user_dict_path,
                                            const std::string& idf_path,
                                            const std::string& stop_word_path) {
    refuse_embedded_nul(dict_path, "dict_path");
    refuse_embedded_nul(hmm_path, "hmm_path");
    refuse_embedded_nul(user_dict_path, "user_dict_path");
    refuse_embedded_nul(idf_path, "idf_path");
    refuse_embedded_nul(stop_word_path, "stop_word_path");

    const JiebaDataPaths paths{dict_path, hmm_path, user_dict_path, idf_path, stop_word_path};
    if (const auto fault = find_data_file_fault(paths)) {
        if (fault->kind == DataFileFault::Kind::unreadable) {
            raise_unreadable(*fault);
        }
        raise_malformed(*fault);
    }
    return std::make_shared<cppjieba::Jieba>(dict_path, hmm_path, user_dict_path, idf_path,
                                             stop_word_path);
}

// The cuts take the holder, not the segmenter: pybind11 hands a method of an
// instance whose __init__ never ran (Jieba.__new__(Jieba)) unconstructed
// memory as the segmenter, but refuses with a RuntimeError to hand out a
// holder that was never constructed.
using Segmenter = std::shared_ptr<cppjieba::Jieba>;

std::vector<std::string> cut(const Segmenter& jieba, const std::string& sentence) {
    std::vector<std::string> words;
    jieba->Cut(sentence, words, true);
    return words;
}

std::vector<std::string> cut_for_search(const Segmenter& jieba, const std::string& sentence) {
    std::vector<std::string> words;
    jieba->CutForSearch(sentence, words, true);
    return words;
}

}  // namespace

void bind_jieba(py::module_& module) {
    py::class_<cppjieba::Jieba, std::shared_ptr<cppjieba::Jieba>>(module, "Jieba")
        .def(py::init(&make_jieba), py::arg("dict_path"), py::arg("hmm_path"),
             py::arg("user_dict_path"), py::arg("idf_path"), py::arg("stop_word_path"))
        .def("cut", &cut, py::arg("sentence"), py::call_guard<py::gil_scoped_release>())
        .def("cut_for_search", &cut_for_search, py::arg("sentence"),
             py::call_guard<py::gil_scoped_release>());
}

}  // namespace vorn::typing::text
