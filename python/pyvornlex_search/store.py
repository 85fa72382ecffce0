"""What the database keeps beside the postings: the lengths of documents,
packed by number, and the statistics from which the model file is derived.

The model file (meta 'model') is what a model trained on exactly the stored
documents would dump: their count, the total of their lengths (meta
'length_total') and every word's occurrences (the `token` table), with the
parameters b and k1 as the database was built with them (meta 'b', 'k1', in
the file's own form), laid out by the one owner of the model file's layout.
Deriving it instead of training lets documents go without un-training."""

from __future__ import annotations

import json
import sqlite3
import sys
from array import array
from typing import Iterable, Iterator

from _pyvornlex_files.model_file import INT32_MAX, model_text, updated_model_text

from .errors import SearchToolError
from .layout import LENGTH_CHUNK, meta, set_meta

__all__ = ["CountLimitError", "read_lengths", "write_lengths", "clear_lengths", "derive_model"]

_SWAP = sys.byteorder != "little"


class CountLimitError(SearchToolError, OverflowError):
    """A count would pass what the model file holds (2,147,483,647)."""


def _unpacked(blob: bytes) -> array:  # type: ignore[type-arg]
    values = array("I")
    values.frombytes(blob)
    if _SWAP:
        values.byteswap()
    return values


def _packed(values: array) -> bytes:  # type: ignore[type-arg]
    if _SWAP:
        values = array("I", values)
        values.byteswap()
    return values.tobytes()


def read_lengths(connection: sqlite3.Connection) -> array:  # type: ignore[type-arg]
    """Every document's length, indexed by its number (0 where none is stored)."""
    lengths = array("I")
    for chunk, blob in connection.execute("SELECT chunk, lengths FROM length ORDER BY chunk"):
        gap = chunk * LENGTH_CHUNK - len(lengths)
        if gap > 0:
            lengths.frombytes(bytes(4 * gap))
        lengths.extend(_unpacked(blob))
    return lengths


def _chunk(connection: sqlite3.Connection, chunk: int) -> array:  # type: ignore[type-arg]
    """The stored lengths of a chunk's documents (empty where none are stored)."""
    row = connection.execute("SELECT lengths FROM length WHERE chunk = ?", (chunk,)).fetchone()
    return _unpacked(row[0]) if row is not None else array("I")


def _store_chunk(connection: sqlite3.Connection, chunk: int,
                 lengths: array) -> None:  # type: ignore[type-arg]
    connection.execute("INSERT OR REPLACE INTO length(chunk, lengths) VALUES (?, ?)",
                       (chunk, _packed(lengths)))


def write_lengths(connection: sqlite3.Connection, first_doc: int,
                  lengths: array) -> None:  # type: ignore[type-arg]
    """Stores the lengths of documents first_doc, first_doc + 1, ..."""
    doc, end = first_doc, first_doc + len(lengths)
    while doc < end:
        chunk = doc // LENGTH_CHUNK
        start = chunk * LENGTH_CHUNK
        stop = min(end, start + LENGTH_CHUNK)
        stored = _chunk(connection, chunk)
        if len(stored) < stop - start:
            stored.frombytes(bytes(4 * (stop - start - len(stored))))
        stored[doc - start:stop - start] = lengths[doc - first_doc:stop - first_doc]
        _store_chunk(connection, chunk, stored)
        doc = stop


def clear_lengths(connection: sqlite3.Connection, docs: Iterable[int]) -> None:
    """Sets the lengths of the documents `docs` to 0: they are removed."""
    places: dict[int, list[int]] = {}
    for doc in docs:
        places.setdefault(doc // LENGTH_CHUNK, []).append(doc % LENGTH_CHUNK)
    for chunk, offsets in places.items():
        stored = _chunk(connection, chunk)
        if not stored:
            continue
        for offset in offsets:
            if offset < len(stored):
                stored[offset] = 0
        _store_chunk(connection, chunk, stored)


def derive_model(connection: sqlite3.Connection, changed: Iterable[str] | None = None) -> bytes:
    """The model file of the stored documents; stored as meta 'model' too.
    With `changed`, the words whose counts may have changed since the stored
    model file was derived, only their members are written anew."""
    doc_count = connection.execute("SELECT count(*) FROM document").fetchone()[0]
    if doc_count > INT32_MAX:
        raise CountLimitError(f"the database would hold {doc_count} documents, more than "
                              "the 2,147,483,647 that a model file holds")
    length_total = int(meta(connection, "length_total"))  # type: ignore[call-overload]
    if changed is None:
        rows = connection.execute("SELECT word, occurrences FROM token WHERE occurrences > 0")
        content = model_text(bytes(meta(connection, "b")),  # type: ignore[call-overload]
                             bytes(meta(connection, "k1")),  # type: ignore[call-overload]
                             doc_count, length_total, _checked(rows))
    else:
        words = sorted(set(changed))
        counts = dict.fromkeys(words, 0)
        counts.update(connection.execute(
            "SELECT word, occurrences FROM token WHERE word IN (SELECT value FROM json_each(?))",
            (json.dumps(words, ensure_ascii=False),)))
        content = updated_model_text(bytes(meta(connection, "model")),  # type: ignore[call-overload]
                                     doc_count, length_total, dict(_checked(counts.items())))
    set_meta(connection, "model", content)
    return content


def _checked(rows: Iterable[tuple[str, int]]) -> Iterator[tuple[bytes, int]]:
    for word, occurrences in rows:
        if occurrences > INT32_MAX:
            raise CountLimitError(f"the word {word!r} would occur {occurrences} times, more "
                                  "than the 2,147,483,647 that a model file holds")
        yield word.encode("utf-8"), occurrences
