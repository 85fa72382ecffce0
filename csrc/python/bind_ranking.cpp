#include "python/bind_ranking.h"

#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "search/max_score.h"
#include "search/posting_accumulator.h"
#include "search/posting_block.h"

namespace py = pybind11;

namespace vorn::typing::text {

namespace {

// The values of a buffer of unsigned 32-bit numbers (an array("I")).
std::vector<std::uint32_t> numbers_of(const py::buffer& buffer) {
    const py::buffer_info info = buffer.request();
    if (info.ndim != 1 || info.itemsize != 4 || info.format != "I") {
        throw py::type_error("expected an array('I')");
    }
    std::vector<std::uint32_t> values(static_cast<std::size_t>(info.shape[0]));
    if (!values.empty()) {
        std::memcpy(values.data(), info.ptr, 4 * values.size());
    }
    return values;
}

py::bytes bytes_of(const std::vector<std::uint32_t>& values) {
    return {reinterpret_cast<const char*>(values.data()), 4 * values.size()};
}

BlockRows rows_of(const py::handle& rows) {
    BlockRows result;
    for (const py::handle row : rows) {
        const auto pair = row.cast<py::tuple>();
        if (pair.size() != 2) {
            throw py::value_error("a block row is a pair of blobs");
        }
        result.emplace_back(pair[0].cast<std::string>(), pair[1].cast<std::string>());
    }
    return result;
}

// The database's blocks through the three callables the caller passes.
class CallbackStore final : public PostingStore {
  public:
    CallbackStore(py::function all_blocks, py::function block_keys, py::function blocks)
        : all_blocks_(std::move(all_blocks)),
          block_keys_(std::move(block_keys)),
          blocks_(std::move(blocks)) {}

    BlockRows all_blocks(std::size_t term) override { return rows_of(all_blocks_(term)); }

    std::vector<std::uint32_t> block_keys(std::size_t term) override {
        return block_keys_(term).cast<std::vector<std::uint32_t>>();
    }

    BlockRows blocks(std::size_t term, const std::vector<std::uint32_t>& keys) override {
        return rows_of(blocks_(term, keys));
    }

  private:
    py::function all_blocks_;
    py::function block_keys_;
    py::function blocks_;
};

py::list block_rows(const std::vector<BlockRow>& rows) {
    py::list result;
    for (const BlockRow& row : rows) {
        result.append(py::make_tuple(row.token, row.first_doc, py::bytes(row.docs_blob),
                                     py::bytes(row.tfs_blob), row.occurrences, row.postings,
                                     row.max_tf, row.min_length));
    }
    return result;
}

}  // namespace

void bind_ranking(py::module_& module) {
    module.doc() = "pyvornlex_search's native helpers: posting blocks and the top-k plan.";
    module.attr("BLOCK") = kBlockPostings;

    module.def(
        "encode_block",
        [](const py::buffer& docs, const py::buffer& tfs) {
            auto [docs_blob, tfs_blob] = encode_block(numbers_of(docs), numbers_of(tfs));
            return py::make_tuple(py::bytes(docs_blob), py::bytes(tfs_blob));
        },
        py::arg("docs"), py::arg("tfs"),
        "The two blobs of a block: documents ascending (array('I')), one frequency each.");

    module.def(
        "decode_blocks",
        [](const py::iterable& rows) {
            std::vector<std::uint32_t> docs;
            std::vector<std::uint32_t> tfs;
            BlockDecoder decoder;
            for (const auto& [docs_blob, tfs_blob] : rows_of(rows)) {
                decoder.decode(docs_blob, tfs_blob, docs, tfs);
            }
            return py::make_tuple(bytes_of(docs), bytes_of(tfs));
        },
        py::arg("rows"),
        "The postings of blocks (pairs of blobs), in their order: the documents' and the "
        "frequencies' bytes, unsigned 32-bit numbers in this machine's order.");

    py::class_<PostingAccumulator>(
        module, "PostingAccumulator",
        "New documents' postings by word, cut into blocks (rows: token, first_doc, docs, tfs, "
        "occurrences, postings, max_tf, min_length).")
        .def(py::init<std::uint32_t, std::size_t, std::size_t>(), py::arg("first_doc"),
             py::arg("limit"), py::arg("block") = kBlockPostings)
        .def(
            "add_documents",
            [](PostingAccumulator& accumulator, const py::buffer& docs, const py::buffer& counts,
               const py::buffer& tokens) {
                const std::vector<std::uint32_t> numbers = numbers_of(docs);
                const std::vector<std::uint32_t> lengths = numbers_of(counts);
                const std::vector<std::uint32_t> words = numbers_of(tokens);
                if (numbers.size() != lengths.size()) {
                    throw py::value_error("a word count for every document");
                }
                std::size_t at = 0;
                for (std::size_t i = 0; i < numbers.size(); ++i) {
                    if (words.size() - at < lengths[i]) {
                        throw py::value_error("fewer tokens than the counts say");
                    }
                    accumulator.add(numbers[i], words.data() + at, lengths[i]);
                    at += lengths[i];
                }
                if (at != words.size()) {
                    throw py::value_error("more tokens than the counts say");
                }
            },
            py::arg("docs"), py::arg("counts"), py::arg("tokens"),
            "Documents (array('I'), ascending), the number of words of each, and all their "
            "words' token ids, one document after another.")
        .def("end_batch",
             [](PostingAccumulator& accumulator) { return block_rows(accumulator.end_batch()); })
        .def("flush",
             [](PostingAccumulator& accumulator) { return block_rows(accumulator.flush()); })
        .def("lengths",
             [](const PostingAccumulator& accumulator) { return bytes_of(accumulator.lengths()); });

    py::class_<MaxScore>(module, "Ranker",
                         "The top-k plan with its buffers, kept from one query to the next: "
                         "one query at a time.")
        .def(py::init<>())
        .def(
            "top_k",
            [](MaxScore& plan,
               const std::vector<std::tuple<double, double, double, std::uint64_t>>& terms,
               std::size_t k, const py::buffer& normalisers, py::function all_blocks,
               py::function block_keys, py::function blocks, bool removed) {
                std::vector<QueryTerm> query;
                query.reserve(terms.size());
                for (const auto& [weight, low, high, postings] : terms) {
                    query.push_back({weight, low, high, postings});
                }
                const py::buffer_info info = normalisers.request();
                if (info.ndim != 1 || info.itemsize != 8 || info.format != "d") {
                    throw py::type_error("expected the normalisers as an array('d')");
                }
                CallbackStore store(std::move(all_blocks), std::move(block_keys),
                                    std::move(blocks));
                const Normalisers by_doc{static_cast<const double*>(info.ptr),
                                         static_cast<std::size_t>(info.shape[0]), removed};
                py::list result;
                for (const Scored& scored : plan.candidates(query, k, by_doc, store)) {
                    result.append(py::make_tuple(scored.doc, scored.score));
                }
                return result;
            },
            py::arg("terms"), py::arg("k"), py::arg("normalisers"), py::arg("all_blocks"),
            py::arg("block_keys"), py::arg("blocks"), py::arg("removed") = false,
            "The documents that can be among the k best of the terms (weight, low, high, "
            "postings), with exact scores; the callables read term i's blocks. With "
            "`removed`, postings of documents whose normaliser is NaN are passed over.");
}

}  // namespace vorn::typing::text
