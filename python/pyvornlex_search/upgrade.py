"""Databases of older layouts keep working: the first run that opens one
upgrades it in place, in one transaction.

Layout 4 removed documents' postings from the blocks at once and kept a
file's documents under consecutive numbers; layout 5 may leave them there,
counted in meta 'removed_postings', and finds a file's documents by an index
(layout.py). The upgrade adds the count (0) and the index, and changes
nothing else. Layouts 2 and 3 stored the same rows as layout 4, but each
posting block in another form: layout 2 as two plain little-endian arrays,
layout 3 with the document numbers by byte plane and both arrays deflated,
which made a query spend most of its time inflating. The upgrade packs every
block again (csrc/search/posting_block.h).

Layout 1 cut text with the standard dictionaries, without folding and with
no stop words; the upgrade records that analysis, keeps every document, its
number, file and line, and cuts the stored text again to get the term
frequencies that later layouts store instead of weights. Its files' sizes, times
and contents were not recorded, so the first `sync` reads each of them."""

from __future__ import annotations

import sqlite3
import sys
from array import array
from contextlib import closing
from functools import partial

from _pyvornlex_files.model_file import read_model
from pyvornlex import Jieba

from .analysis import Analysis
from .corpus import DocumentShape
from .errors import DatabaseError
from .layout import LAYOUT_VERSION, TABLES, layout_version, meta, open_existing, set_meta
from .postings import frequency_code, pack, unpack
from .settings import analyzer_for
from .store import derive_model
from .transaction import write_transaction
from .writer import recut_stored

__all__ = ["upgrade_if_needed"]


def upgrade_if_needed(database: str, *, jieba: Jieba | None = None,
                      threads: int | None = None, wait: float = 30.0) -> bool:
    """Upgrades a database of an older layout; returns whether it did."""
    with closing(open_existing(database)) as connection:
        version = layout_version(connection, database)
    if version == LAYOUT_VERSION:
        return False
    if version in (2, 3, 4):
        return write_transaction(database, wait, partial(_upgrade_blocks, database, version))
    legacy = Analysis.legacy()
    analyzer = analyzer_for(legacy, jieba, threads)

    def change(connection: sqlite3.Connection) -> bool:
        if layout_version(connection, database) != 1:
            return False  # another process upgraded it meanwhile
        _move_tables(connection)
        statistics = read_model(bytes(meta(connection, "model")))  # type: ignore[call-overload]
        next_doc = connection.execute("SELECT coalesce(max(id), 0) + 1 FROM document").fetchone()[0]
        connection.execute("DELETE FROM meta WHERE key = 'segmenter'")
        for key, value in (("analysis", legacy.to_json()), ("fingerprints", legacy.fingerprints()),
                           ("documents", DocumentShape().to_json()),
                           ("b", statistics.b_text), ("k1", statistics.k1_text),
                           ("next_doc", next_doc), ("length_total", 0)):
            set_meta(connection, key, value)
        recut_stored(connection, analyzer, DocumentShape())
        derive_model(connection)
        connection.execute(f"PRAGMA user_version = {LAYOUT_VERSION}")
        return True

    return write_transaction(database, wait, change)


def _move_tables(connection: sqlite3.Connection) -> None:
    for table in ("source", "document"):
        connection.execute(f"ALTER TABLE {table} RENAME TO old_{table}")
    for table in ("token", "posting", "encoding"):
        connection.execute(f"DROP TABLE {table}")
    for statement in TABLES.split(";"):
        if statement.strip():
            connection.execute(statement)
    # Layout 1 let `add` read a file twice: its documents go under one row.
    connection.execute("UPDATE old_document SET source = (SELECT min(id) FROM old_source AS same "
                       "WHERE same.path = (SELECT path FROM old_source WHERE id = source))")
    connection.execute(
        "INSERT INTO source(id, path, size, mtime_ns, sha256, first_doc, last_doc) "
        "SELECT min(old_source.id), path, -1, -1, x'', coalesce(min(old_document.id), 1), "
        "coalesce(max(old_document.id), 0) FROM old_source LEFT JOIN old_document "
        "ON old_document.source = old_source.id GROUP BY path")
    connection.execute("INSERT INTO document(id, source, line, record, text) "
                       "SELECT id, source, line, NULL, text FROM old_document")
    connection.execute("DROP TABLE old_document")
    connection.execute("DROP TABLE old_source")


def _upgrade_blocks(database: str, version: int, connection: sqlite3.Connection) -> bool:
    if layout_version(connection, database) != version:
        return False  # another process upgraded it meanwhile
    if version < 4:
        _repack(database, version, connection)
    set_meta(connection, "removed_postings", 0)
    connection.execute("CREATE INDEX document_source ON document(source)")
    connection.execute(f"PRAGMA user_version = {LAYOUT_VERSION}")
    return True


def _repack(database: str, version: int, connection: sqlite3.Connection) -> None:
    read = _layout_two_block if version == 2 else unpack
    # A word's blocks at a time: memory stays bounded by the longest list.
    tokens = [row[0] for row in connection.execute("SELECT DISTINCT token FROM posting")]
    for token in tokens:
        rows = connection.execute("SELECT first_doc, docs, tfs FROM posting WHERE token = ?",
                                  (token,)).fetchall()
        repacked = []
        for first_doc, docs_blob, tfs_blob in rows:
            try:
                docs, tfs = read(docs_blob, tfs_blob)
            except ValueError as error:
                raise DatabaseError(f"{database}: {error}") from None
            repacked.append((*pack(docs, tfs), token, first_doc))
        connection.executemany("UPDATE posting SET docs = ?, tfs = ? "
                               "WHERE token = ? AND first_doc = ?", repacked)


def _layout_two_block(docs_blob: bytes, tfs_blob: bytes) -> tuple[array, array]:  # type: ignore[type-arg]
    docs = array("I")
    docs.frombytes(docs_blob)
    tfs = array(frequency_code(len(docs), len(tfs_blob)))
    tfs.frombytes(tfs_blob)
    if sys.byteorder != "little":
        docs.byteswap()
        tfs.byteswap()
    return docs, tfs
