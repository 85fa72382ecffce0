"""Posting blocks: the postings of one word for a run of documents, kept as
two packed arrays in one row: document numbers (unsigned 32-bit) and the
word's term frequency in each (unsigned, 8, 16 or 32 bits: the narrowest
that holds the block's largest, told apart by the blob's length), both
little-endian and in ascending document order.

A row per block instead of a row per posting: SQLite spends about a
microsecond and a B-tree search on every row it inserts; a block goes in
with one insert and comes out with one read, and a word's blocks, keyed by
their first document, concatenate into its list in document order. Blocks
hold at most BLOCK postings, so that looking up a few documents of a long
list reads a few blocks, not the list."""

from __future__ import annotations

import sqlite3
import sys
from array import array
from bisect import bisect_left
from typing import Iterable, NamedTuple, Sequence

__all__ = ["BLOCK", "PostingWriter", "TokenStats", "read_postings", "delete_postings",
           "pack", "unpack"]

BLOCK = 512
_READ = "SELECT docs, tfs FROM posting WHERE token = ? ORDER BY first_doc"
_WRITE = "INSERT INTO posting(token, first_doc, docs, tfs) VALUES (?, ?, ?, ?)"
_WIDTHS = {1: "B", 2: "H", 4: "I"}

if array("I").itemsize != 4 or array("H").itemsize != 2:
    raise ImportError("pyvornlex_search needs 2-byte and 4-byte unsigned ints")
_SWAP = sys.byteorder != "little"

def pack(docs: array, tfs: array) -> tuple[bytes, bytes]:  # type: ignore[type-arg]
    """The two blobs of a block."""
    widest = max(tfs)
    code = "B" if widest < 1 << 8 else "H" if widest < 1 << 16 else "I"
    docs, tfs = array("I", docs), array(code, tfs)
    if _SWAP:
        docs.byteswap()
        tfs.byteswap()
    return docs.tobytes(), tfs.tobytes()


def unpack(docs_blob: bytes, tfs_blob: bytes) -> tuple[array, array]:  # type: ignore[type-arg]
    docs = array("I")
    docs.frombytes(docs_blob)
    code = _WIDTHS.get(len(tfs_blob) // len(docs)) if docs else None
    if code is None or len(tfs_blob) != len(docs) * array(code).itemsize:
        raise ValueError("a posting block whose arrays differ in length: the file is damaged")
    tfs = array(code)
    tfs.frombytes(tfs_blob)
    if _SWAP:
        docs.byteswap()
        tfs.byteswap()
    return docs, tfs


def read_postings(connection: sqlite3.Connection,
                  token: int) -> tuple[array, array]:  # type: ignore[type-arg]
    """Every posting of a word, in ascending document order: documents and
    term frequencies."""
    docs, tfs = array("I"), array("I")
    for docs_blob, tfs_blob in connection.execute(_READ, (token,)):
        block_docs, block_tfs = unpack(docs_blob, tfs_blob)
        docs.extend(block_docs)
        tfs.extend(block_tfs if block_tfs.typecode == "I" else array("I", block_tfs))
    return docs, tfs


class TokenStats(NamedTuple):
    """A word's postings as its `token` row counts them."""

    occurrences: int  # the sum of the term frequencies
    postings: int
    max_tf: int
    min_length: int  # the fewest words of a document that holds it

    def joined(self, other: TokenStats) -> TokenStats:
        return TokenStats(self.occurrences + other.occurrences, self.postings + other.postings,
                          max(self.max_tf, other.max_tf), min(self.min_length, other.min_length))


class PostingWriter:
    """Gathers the postings of new documents, numbered from `first_doc` on
    (above every document stored before), by word, and writes them in blocks
    of BLOCK: a word's postings wait in memory until a block is full, and all
    that waits is written as shorter blocks once `limit` postings wait, so
    that memory holds at most about `limit` postings whatever the corpus.

    Blocks fill up between batches (`end_batch`), not posting by posting:
    the per-posting work is two list appends, the cost that dominates
    indexing after the cut."""

    def __init__(self, connection: sqlite3.Connection, first_doc: int,
                 limit: int = 2_000_000) -> None:
        self._connection = connection
        self._limit = limit
        self._first_doc = first_doc
        self._lengths = array("I")  # of the documents from first_doc on
        self._waiting: dict[int, tuple[list[int], list[int]]] = {}  # token -> (docs, tfs)
        self._touched: set[int] = set()
        self._count_waiting = 0
        self.stats: dict[int, TokenStats] = {}  # what this writer added, by word
        self.count = 0

    def add(self, doc: int, length: int, tokens: Sequence[int], tfs: Iterable[int]) -> None:
        """The postings of document `doc` (above every document added before)
        of `length` words."""
        gap = doc - self._first_doc - len(self._lengths)
        if gap < 0:
            raise ValueError(f"document {doc} out of turn")
        if gap:
            self._lengths.frombytes(bytes(4 * gap))
        self._lengths.append(length)
        waiting, get = self._waiting, self._waiting.get
        for token, tf in zip(tokens, tfs):
            lists = get(token)
            if lists is None:
                lists = waiting[token] = ([], [])
            lists[0].append(doc)
            lists[1].append(tf)
        self._touched.update(tokens)
        self._count_waiting += len(tokens)

    def end_batch(self) -> None:
        """Writes the full blocks, and everything when too much waits."""
        if self._count_waiting >= self._limit:
            self.flush()
            return
        waiting = self._waiting
        for token in self._touched:
            docs, tfs = waiting[token]
            if len(docs) >= BLOCK:
                full = len(docs) - len(docs) % BLOCK
                for start in range(0, full, BLOCK):
                    self._write(token, docs[start:start + BLOCK], tfs[start:start + BLOCK])
                del docs[:full], tfs[:full]
                if not docs:
                    del waiting[token]
        self._touched.clear()

    def _write(self, token: int, docs: list[int], tfs: list[int]) -> None:
        self._connection.execute(_WRITE, (token, docs[0], *pack(array("I", docs), array("I", tfs))))
        lengths, base = self._lengths.__getitem__, self._first_doc
        block = TokenStats(sum(tfs), len(docs), max(tfs),
                           min(map(lengths, map(base.__rsub__, docs))))
        old = self.stats.get(token)
        self.stats[token] = block if old is None else old.joined(block)
        self._count_waiting -= len(docs)
        self.count += len(docs)

    def flush(self) -> None:
        """Writes every posting that waits."""
        for token in sorted(self._waiting):
            docs, tfs = self._waiting[token]
            self._write(token, docs, tfs)
        self._waiting.clear()
        self._touched.clear()


def delete_postings(connection: sqlite3.Connection, token: int,
                    docs: Sequence[int]) -> tuple[int, int]:
    """Removes the postings of the documents `docs` (ascending) from a word's
    blocks; returns how many there were and their occurrences. Only the
    blocks that hold them are read and rewritten, and each by slices, so a
    few documents cost a few blocks, not the list."""
    removed = occurrences = 0
    rows = connection.execute("SELECT first_doc, docs, tfs FROM posting WHERE token = ? AND "
                              "first_doc <= ? ORDER BY first_doc DESC", (token, docs[-1]))
    end = len(docs)
    for first_doc, docs_blob, tfs_blob in rows:
        start = bisect_left(docs, first_doc, 0, end)
        if start < end:
            block_docs, block_tfs = unpack(docs_blob, tfs_blob)
            kept_docs, kept_tfs = array("I"), array(block_tfs.typecode)
            at = 0
            for doc in docs[start:end]:
                found = bisect_left(block_docs, doc, at)
                if found < len(block_docs) and block_docs[found] == doc:
                    kept_docs.extend(block_docs[at:found])
                    kept_tfs.extend(block_tfs[at:found])
                    occurrences += block_tfs[found]
                    removed += 1
                    at = found + 1
            if at:  # something went
                kept_docs.extend(block_docs[at:])
                kept_tfs.extend(block_tfs[at:])
                if kept_docs:
                    connection.execute(
                        "UPDATE posting SET first_doc = ?, docs = ?, tfs = ? WHERE token = ? "
                        "AND first_doc = ?", (kept_docs[0], *pack(kept_docs, kept_tfs), token,
                                              first_doc))
                else:
                    connection.execute("DELETE FROM posting WHERE token = ? AND first_doc = ?",
                                       (token, first_doc))
        end = start
        if end == 0:
            break
    return removed, occurrences
