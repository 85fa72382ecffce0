"""Document weights, computed when a query reads the postings: a word that
occurs tf times in a document of n words weighs

    tf / (tf + ((n / avgdl) * b + (1 - b)) * k1)

with b, k1 and the average length avgdl of the stored model: what
`BM25.encode_document` returns for the document, to the last bit (the same
double operations in the same order; the tests hold the two together).
Computing them at query time instead of storing them keeps every document's
weights those of the current average, whatever was added or removed since
it was indexed."""

from __future__ import annotations

import math
from array import array
from operator import add, truediv
from typing import Iterable

__all__ = ["Weigher"]


class _Normalisers(dict[int, float]):
    """length -> the length normaliser K of BM25, each computed once. A
    document without a length (removed, or never stored) has none: NaN, so
    that a posting that removal left in a block weighs nothing by mistake."""

    def __init__(self, b: float, k1: float, average: float) -> None:
        super().__init__()
        self._b, self._k1, self._average = b, k1, average
        self[0] = math.nan

    def __missing__(self, length: int) -> float:
        normaliser = ((length / self._average) * self._b + (1.0 - self._b)) * self._k1
        self[length] = normaliser
        return normaliser


class Weigher:
    """The weights of a model's documents, given their lengths by number;
    `removed`: whether blocks still hold postings of removed documents
    (length 0), which every reader must then pass over."""

    def __init__(self, b: float, k1: float, average: float,
                 lengths: array, removed: bool = False) -> None:  # type: ignore[type-arg]
        self.b, self.k1, self.average = b, k1, average
        self.removed = removed
        self._normalisers = _Normalisers(b, k1, average)
        self.lengths = lengths  # index: document number
        self._by_doc: array | None = None  # type: ignore[type-arg]

    def weight(self, tf: int, length: int) -> float:
        return tf / (tf + self._normalisers[length])

    def normalisers(self) -> array:  # type: ignore[type-arg]
        """Every document's normaliser by number (8 bytes a document), made
        at the first call: a posting's weight then takes one look-up, not two
        (and the native plan reads them from here)."""
        if self._by_doc is None:
            self._by_doc = array("d", map(self._normalisers.__getitem__, self.lengths))
        return self._by_doc

    def weights(self, docs: Iterable[int], tfs: Iterable[int]) -> list[float]:
        """The weights of a word in the documents `docs`, where it occurs
        `tfs` times (C-level maps: no bytecode per posting)."""
        if isinstance(self.lengths, array):
            normalisers = map(self.normalisers().__getitem__, docs)
        else:
            normalisers = map(self._normalisers.__getitem__, map(self.lengths.__getitem__, docs))
        tfs = list(tfs)
        return list(map(truediv, tfs, map(add, tfs, normalisers)))

    def bound(self, max_tf: int, min_length: int) -> float:
        """The largest weight of a word that occurs at most `max_tf` times in
        documents of at least `min_length` words: weights grow with tf and
        shrink with the length."""
        return self.weight(max_tf, min_length)
