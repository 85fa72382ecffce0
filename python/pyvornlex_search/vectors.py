"""Sparse vectors with integer indices, for vector databases that take them.

`BM25` encodes a text into ``{word: weight}``; stores of sparse vectors want
integer indices instead. A word's index is `token_id(word)`: the first four
bytes of the SHA-256 of its UTF-8 bytes, read as a big-endian unsigned
integer, so ``int(hashlib.sha256(word.encode()).hexdigest()[:8], 16)``. It is
the same on every machine and Python version, needs no vocabulary to be
stored, and is easy to compute elsewhere (SQL's ``sha256``, any language).

Collisions: two words with the same index share one dimension, so their
weights add up in a vector, and a query holding one of them matches the
documents holding the other as if they held it. For n distinct words about
n² / 2³³ pairs collide: about 116 pairs among 10⁶ words (a word in 4,300
shares its index), 1.2 among 10⁵. With a smaller `dimension` the figure is
n² / (2 × dimension): about 500 pairs among 10⁶ words for 10⁹ dimensions.

    from pyvornlex_search.vectors import sparse
    sparse({"杭州": 0.5, "西湖": 0.25})   # SparseVector(indices=[...], values=[...])
"""

from __future__ import annotations

import hashlib
import math
from typing import Mapping, NamedTuple, Sequence

from pyvornlex import BM25

from .analysis import Analyzer

__all__ = ["ID_SPACE", "SparseVector", "document_vector", "document_vectors", "query_vector",
           "sparse", "token_id"]

ID_SPACE = 2 ** 32  # token ids are in range(ID_SPACE) unless a smaller dimension is asked


class SparseVector(NamedTuple):
    """A sparse vector: indices ascending and distinct, one value each."""

    indices: list[int]
    values: list[float]

    def as_dict(self) -> dict[int, float]:
        """``{index: value}``, in ascending index order."""
        return dict(zip(self.indices, self.values))


def _checked(dimension: int) -> int:
    if isinstance(dimension, bool) or not isinstance(dimension, int) \
            or not 1 <= dimension <= ID_SPACE:
        raise ValueError(f"dimension must be an integer from 1 to 2**32, not {dimension!r}")
    return dimension


def _token_id(word: str, dimension: int) -> int:
    value = int.from_bytes(hashlib.sha256(word.encode("utf-8")).digest()[:4], "big")
    return value % dimension


class _TokenIds(dict):  # type: ignore[type-arg]
    """word -> token id, each word hashed once: vectors of many documents
    share most of their words."""

    def __init__(self, dimension: int) -> None:
        super().__init__()
        self.dimension = _checked(dimension)

    def __missing__(self, word: str) -> int:
        index = _token_id(word, self.dimension)
        self[word] = index
        return index


def _sparse(vector: Mapping[str, float], ids: _TokenIds) -> SparseVector:
    indices = list(map(ids.__getitem__, vector))
    values = list(map(float, vector.values()))
    if len(set(indices)) < len(indices):  # a collision: weights summed
        summed: dict[int, float] = {}
        for index, value in zip(indices, values):
            summed[index] = summed[index] + value if index in summed else value
        indices, values = list(summed), list(summed.values())
    order = sorted(range(len(indices)), key=indices.__getitem__)
    return SparseVector([indices[at] for at in order], [values[at] for at in order])


def token_id(word: str, dimension: int = ID_SPACE) -> int:
    """The index of `word`: the first four bytes of SHA-256(UTF-8 of word), as
    a big-endian unsigned integer, modulo `dimension` (by default 2**32, which
    leaves it whole). Pass a smaller `dimension` for a store whose indices
    have a narrower range, e.g. ``2**32 - 1`` for Milvus (indices below
    2**32 - 1) or the dimension of a pgvector ``sparsevec`` column (and add 1
    there: its indices start at 1)."""
    return _token_id(word, _checked(dimension))


def sparse(vector: Mapping[str, float], dimension: int = ID_SPACE) -> SparseVector:
    """`vector` with each word replaced by `token_id(word, dimension)`; the
    weights of words that share an index are summed (see the module's text
    for what collisions cost)."""
    return _sparse(vector, _TokenIds(dimension))


def document_vector(model: BM25, analyzer: Analyzer, text: str,
                    dimension: int = ID_SPACE) -> SparseVector:
    """The sparse vector of a document: its words under `analyzer`, encoded
    by `model` (trained on words of the same analyzer)."""
    return sparse(model.encode_document(analyzer.words(text)), dimension)


def document_vectors(model: BM25, analyzer: Analyzer, texts: Sequence[str],
                     dimension: int = ID_SPACE) -> list[SparseVector]:
    """`document_vector` of each text, faster: the texts are cut together on
    the analyzer's threads, and each word is hashed once."""
    ids = _TokenIds(dimension)
    return [_sparse(model.encode_document(words), ids) for words in analyzer.cut_many(texts)]


def query_vector(model: BM25, analyzer: Analyzer, text: str,
                 dimension: int = ID_SPACE) -> SparseVector:
    """The sparse vector of a query. Its inner product with a document's
    vector is the BM25 score divided by the sum of the query words' IDFs.
    Raises ValueError when that sum is zero (the weights would not be finite)."""
    vector = sparse(model.encode_query(analyzer.words(text)), dimension)
    if not all(map(math.isfinite, vector.values)):
        raise ValueError(f"the query {text!r} has no sparse vector: the IDFs of its words "
                         "add up to zero")
    return vector
