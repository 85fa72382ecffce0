"""Posting blocks: the postings of one word for a run of documents, kept as
two packed arrays in one row, document numbers (unsigned 32-bit) and their
weights (the exact doubles that encode_document gave), both little-endian
and in ascending document order.

A row per word and indexing run instead of a row per posting: SQLite spends
about a microsecond and a B-tree search on every row it inserts, which made
the postings most of an index's build time; a block goes in with one insert
and comes out with one read, and a word's blocks, keyed by their first
document, concatenate into its list in document order."""

from __future__ import annotations

import sqlite3
import sys
from array import array
from typing import Iterable, Iterator, NamedTuple

__all__ = ["PostingLists", "TokenStats", "read_postings", "pack", "unpack"]

_READ = "SELECT docs, weights FROM posting WHERE token = ? ORDER BY first_doc"
_WRITE = "INSERT INTO posting(token, first_doc, docs, weights) VALUES (?, ?, ?, ?)"

if array("I").itemsize != 4 or array("d").itemsize != 8:
    raise ImportError("pyvornlex_search needs 4-byte unsigned ints and 8-byte doubles")
_SWAP = sys.byteorder != "little"


def pack(docs: array, weights: array) -> tuple[bytes, bytes]:  # type: ignore[type-arg]
    """The two blobs of a block."""
    if _SWAP:
        docs, weights = array("I", docs), array("d", weights)
        docs.byteswap()
        weights.byteswap()
    return docs.tobytes(), weights.tobytes()


def unpack(docs_blob: bytes, weights_blob: bytes) -> tuple[array, array]:  # type: ignore[type-arg]
    docs, weights = array("I"), array("d")
    docs.frombytes(docs_blob)
    weights.frombytes(weights_blob)
    if _SWAP:
        docs.byteswap()
        weights.byteswap()
    if len(docs) != len(weights):
        raise ValueError("a posting block whose arrays differ in length: the file is damaged")
    return docs, weights


def read_postings(connection: sqlite3.Connection,
                  token: int) -> tuple[array, array]:  # type: ignore[type-arg]
    """Every posting of a word, in ascending document order."""
    docs, weights = array("I"), array("d")
    for docs_blob, weights_blob in connection.execute(_READ, (token,)):
        block_docs, block_weights = unpack(docs_blob, weights_blob)
        docs.extend(block_docs)
        weights.extend(block_weights)
    return docs, weights


class TokenStats(NamedTuple):
    """What a block adds to its word's row: counts and the weight bounds."""

    postings: int
    low: float
    high: float


class PostingLists:
    """The postings of documents given in ascending number, gathered by word
    (a token id below `tokens`), then written as one block per word."""

    def __init__(self, tokens: int) -> None:
        self._docs = [array("I") for _ in range(tokens)]
        self._weights = [array("d") for _ in range(tokens)]

    def add(self, doc: int, tokens: Iterable[int], weights: Iterable[float]) -> None:
        """The postings of document `doc`, numbered above every document before."""
        all_docs, all_weights = self._docs, self._weights
        for token, weight in zip(tokens, weights):
            all_docs[token].append(doc)
            all_weights[token].append(weight)

    @property
    def count(self) -> int:
        return sum(map(len, self._docs))

    def _blocks(self) -> Iterator[tuple[int, int, bytes, bytes]]:
        for token, docs in enumerate(self._docs):
            if docs:
                yield (token, docs[0], *pack(docs, self._weights[token]))

    def write(self, connection: sqlite3.Connection) -> dict[int, TokenStats]:
        """Inserts the blocks; returns each word's counts and bounds."""
        connection.executemany(_WRITE, self._blocks())
        return {token: TokenStats(len(docs), min(self._weights[token]), max(self._weights[token]))
                for token, docs in enumerate(self._docs) if docs}
