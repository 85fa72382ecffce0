"""Posting blocks: the postings of one word for a run of documents, kept as
two blobs in one row (their layout: csrc/search/posting_block.h, whose
native codec, `_ranking`, reads and writes them).

A row per block instead of a row per posting: SQLite spends about a
microsecond and a B-tree search on every row it inserts; a block goes in
with one insert and comes out with one read, and a word's blocks, keyed by
their first document, concatenate into its list in document order. Blocks
hold at most BLOCK postings, so that looking up a few documents of a long
list reads a few blocks, not the list: the keys of a word's blocks are its
skip list (a look-up reads them, then only the blocks that can hold the
documents it is asked for).

Writing keeps the interpreter's work per block, not per posting: documents
are counted and grouped by word in native code (PostingWriter)."""

from __future__ import annotations

import json
import sqlite3
from array import array
from itertools import chain, compress
from typing import Callable, NamedTuple, Sequence

from . import _ranking
from .errors import DatabaseError

__all__ = ["BLOCK", "PostingWriter", "TokenStats", "read_postings", "block_rows",
           "block_keys", "some_block_rows", "drop_removed", "frequency_code", "pack",
           "unpack"]

BLOCK = _ranking.BLOCK
_READ = "SELECT docs, tfs FROM posting WHERE token = ? ORDER BY first_doc"
_FIRSTS = "SELECT first_doc FROM posting WHERE token = ? ORDER BY first_doc"
_SOME = ("SELECT docs, tfs FROM posting WHERE token = ? AND first_doc IN "
         "(SELECT value FROM json_each(?)) ORDER BY first_doc")
_WRITE = "INSERT INTO posting(token, first_doc, docs, tfs) VALUES (?, ?, ?, ?)"
_WIDTHS = {1: "B", 2: "H", 4: "I"}
_LOW = (1 << 32) - 1  # the largest document number

if array("I").itemsize != 4 or array("H").itemsize != 2:
    raise ImportError("pyvornlex_search needs 2-byte and 4-byte unsigned ints")
Rows = list[tuple[bytes, bytes]]


def _numbers(values: Sequence[int]) -> array:  # type: ignore[type-arg]
    if isinstance(values, array) and values.typecode == "I":
        return values
    return array("I", values)


def pack(docs: Sequence[int], tfs: Sequence[int]) -> tuple[bytes, bytes]:
    """The two blobs of a block: documents ascending, one frequency each."""
    return _ranking.encode_block(_numbers(docs), _numbers(tfs))


def frequency_code(count: int, size: int) -> str:
    """The type code of a block's term frequencies: `size` bytes for `count`
    documents tell their width; ValueError when no width fits."""
    code = _WIDTHS.get(size // count) if count else None
    if code is None or size != count * array(code).itemsize:
        raise ValueError("a posting block whose arrays differ in length: the file is damaged")
    return code


def _joined(rows: Rows) -> tuple[array, array]:  # type: ignore[type-arg]
    """The postings of blocks, in their order: documents and frequencies."""
    docs_bytes, tfs_bytes = _ranking.decode_blocks(rows)
    docs, tfs = array("I"), array("I")
    docs.frombytes(docs_bytes)
    tfs.frombytes(tfs_bytes)
    return docs, tfs


def unpack(docs_blob: bytes, tfs_blob: bytes) -> tuple[array, array]:  # type: ignore[type-arg]
    return _joined([(docs_blob, tfs_blob)])


def block_rows(connection: sqlite3.Connection, token: int) -> Rows:
    """Every block of a word, in document order."""
    return connection.execute(_READ, (token,)).fetchall()


def block_keys(connection: sqlite3.Connection, token: int) -> list[int]:
    """The first documents of a word's blocks, ascending."""
    return [row[0] for row in connection.execute(_FIRSTS, (token,))]


def some_block_rows(connection: sqlite3.Connection, token: int, keys: Sequence[int]) -> Rows:
    """The word's blocks whose first documents are `keys`, in document order."""
    return connection.execute(_SOME, (token, json.dumps(list(keys)))).fetchall()


def read_postings(connection: sqlite3.Connection,
                  token: int) -> tuple[array, array]:  # type: ignore[type-arg]
    """Every posting of a word, in ascending document order: documents and
    term frequencies."""
    return _joined(block_rows(connection, token))


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
    that memory holds at most about `limit` postings (8 bytes each) and a
    length (4 bytes) per document, whatever the corpus. The gathering is
    native (csrc/search/posting_accumulator.h); this writes the blocks and
    keeps each word's counts.

    Blocks fill up between batches (`end_batch`), not posting by posting."""

    def __init__(self, connection: sqlite3.Connection, first_doc: int,
                 limit: int = 2_000_000) -> None:
        self._connection = connection
        self._waiting = _ranking.PostingAccumulator(first_doc, limit, BLOCK)
        self.stats: dict[int, TokenStats] = {}  # what this writer added, by word
        self.count = 0

    @property
    def lengths(self) -> array:  # type: ignore[type-arg]
        """The lengths of the documents from first_doc on (0: none)."""
        lengths = array("I")
        lengths.frombytes(self._waiting.lengths())
        return lengths

    def add_documents(self, docs: Sequence[int], words: Sequence[Sequence[str]],
                      token_of: Callable[[str], int]) -> None:
        """The postings of the documents `docs` (ascending, above every
        document added before), each given as its words in order (repeats
        count) and measured by their number; `token_of` gives a word's id.
        The words become ids by C-level maps, and are counted natively."""
        if len(docs) != len(words):
            raise ValueError("the words of every document")
        if docs and docs[-1] > _LOW:
            raise ValueError(f"document number {docs[-1]} beyond 32 bits")
        tokens = array("I", map(token_of, chain.from_iterable(words)))
        self._waiting.add_documents(array("I", docs), array("I", map(len, words)), tokens)

    def end_batch(self) -> None:
        """Writes the full blocks, and everything when too much waits."""
        self._write(self._waiting.end_batch())

    def flush(self) -> None:
        """Writes every posting that waits."""
        self._write(self._waiting.flush())

    def _write(self, rows: list[tuple[int, int, bytes, bytes, int, int, int, int]]) -> None:
        if not rows:
            return
        self._connection.executemany(_WRITE, [row[:4] for row in rows])
        stats = self.stats
        for token, _, _, _, occurrences, postings, max_tf, min_length in rows:
            block = TokenStats(occurrences, postings, max_tf, min_length)
            old = stats.get(token)
            stats[token] = block if old is None else old.joined(block)
            self.count += postings


def drop_removed(connection: sqlite3.Connection, lengths: Sequence[int]) -> None:
    """Rewrites the blocks of every word that holds postings of removed
    documents (length 0 in `lengths`, by number) without them, BLOCK
    postings a block. A word at a time: memory stays bounded by the longest
    list."""
    tokens = [row[0] for row in connection.execute("SELECT DISTINCT token FROM posting")]
    for token in tokens:
        docs, tfs = read_postings(connection, token)
        if docs and docs[-1] >= len(lengths):
            raise DatabaseError("a posting of a document without a length: the file is damaged")
        live = list(map(bool, map(lengths.__getitem__, docs)))
        if all(live):
            continue
        docs, tfs = array("I", compress(docs, live)), array("I", compress(tfs, live))
        connection.execute("DELETE FROM posting WHERE token = ?", (token,))
        connection.executemany(_WRITE, [(token, docs[start], *pack(docs[start:start + BLOCK],
                                                                    tfs[start:start + BLOCK]))
                                        for start in range(0, len(docs), BLOCK)])
