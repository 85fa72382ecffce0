"""The database layout: tables, the marks that tell our databases apart from
any other SQLite file, and the checks made on opening one.

A document's postings hold how often each word occurs in it (its term
frequency), not a weight: weights depend on the corpus's average length,
which every added or removed document moves, so they are computed when a
query reads them (weights.py) and never go stale. Postings are stored by
word, in blocks (postings.py). The model file that `BM25.load` reads is
derived from the counts of the `token` table and the totals in `meta`
(counts.py), so removing documents needs no un-training.

meta keys: 'model' (the model file's bytes), 'analysis' and 'fingerprints'
(how text becomes words, and the files it reads: analysis.py), 'documents'
(the shape of a document and the corpus encoding: corpus.py), 'next_doc'
(the number the next document gets: numbers are never given twice),
'length_total' (the words of all documents) and 'removed_postings'.

A file's documents are found by the index on `document(source)`: a sync
keeps the documents of an edited file that did not change, so a file's
numbers need not be consecutive. Removing documents leaves their postings in
the blocks, so that a sync that replaces a few documents does not rewrite a
block of every word they hold: their lengths become 0, which readers take as
"pass over", and their postings are counted in 'removed_postings' until a
removal finds them more than an eighth of the live postings and rewrites the
blocks without them.
"""

from __future__ import annotations

import os
import sqlite3
from urllib.request import pathname2url

from .errors import DatabaseError

__all__ = ["APPLICATION_ID", "LAYOUT_VERSION", "SCHEMA", "TABLES", "LENGTH_CHUNK", "open_existing",
           "check_ours", "layout_version", "meta", "set_meta"]

# "VORN" in ASCII: SQLite keeps it in the file header (PRAGMA application_id).
APPLICATION_ID = 0x564F524E
# Raised whenever a table or the meaning of a stored value changes.
LAYOUT_VERSION = 5
# Documents per row of the `length` table.
LENGTH_CHUNK = 4096

META = "CREATE TABLE meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;"
# Every table but meta, which layout 1 had in the same form.
TABLES = """
CREATE TABLE source(
    id INTEGER PRIMARY KEY,
    path TEXT NOT NULL UNIQUE,
    size INTEGER NOT NULL,
    mtime_ns INTEGER NOT NULL,
    sha256 BLOB NOT NULL,
    first_doc INTEGER NOT NULL,
    last_doc INTEGER NOT NULL);
CREATE TABLE document(
    id INTEGER PRIMARY KEY,
    source INTEGER NOT NULL REFERENCES source(id),
    line INTEGER NOT NULL,
    record,
    text TEXT NOT NULL);
CREATE UNIQUE INDEX document_record ON document(record) WHERE record IS NOT NULL;
CREATE INDEX document_source ON document(source);
CREATE TABLE length(chunk INTEGER PRIMARY KEY, lengths BLOB NOT NULL);
CREATE TABLE token(
    word TEXT PRIMARY KEY,
    id INTEGER NOT NULL,
    occurrences INTEGER NOT NULL,
    postings INTEGER NOT NULL,
    max_tf INTEGER NOT NULL,
    min_length INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE posting(
    token INTEGER NOT NULL,
    first_doc INTEGER NOT NULL,
    docs BLOB NOT NULL,
    tfs BLOB NOT NULL,
    PRIMARY KEY(token, first_doc)) WITHOUT ROWID;
"""
SCHEMA = META + TABLES

# The tables every database of this layout holds: a file that lacks one is damaged.
_TABLES = {"meta", "source", "document", "length", "token", "posting"}


def layout_version(connection: sqlite3.Connection, path: str) -> int:
    """The layout of an open database of ours; DatabaseError for any other file."""
    try:
        application_id = connection.execute("PRAGMA application_id").fetchone()[0]
        version = int(connection.execute("PRAGMA user_version").fetchone()[0])
    except sqlite3.DatabaseError as error:
        raise DatabaseError(f"{path}: not an SQLite database ({error})") from None
    if application_id != APPLICATION_ID:
        raise DatabaseError(f"{path}: not a pyvornlex_search database "
                            f"(application id {application_id:#x}); nothing was changed")
    if version > LAYOUT_VERSION:
        raise DatabaseError(f"{path}: made by a newer pyvornlex_search (layout {version}; "
                            f"this one reads layouts up to {LAYOUT_VERSION}): upgrade it")
    if version < 1:
        raise DatabaseError(f"{path}: marked as pyvornlex_search but without a layout "
                            "version: the file is damaged")
    return version


def check_ours(connection: sqlite3.Connection, path: str) -> None:
    """Raises DatabaseError unless the open database is ours, of this layout,
    with every table in place."""
    version = layout_version(connection, path)
    if version != LAYOUT_VERSION:
        return
    tables = {row[0] for row in connection.execute(
        "SELECT name FROM sqlite_schema WHERE type = 'table'")}
    missing = sorted(_TABLES - tables)
    if missing:
        raise DatabaseError(f"{path}: the file is damaged: it lacks the table(s) "
                            f"{', '.join(missing)}; build the database again with "
                            f"'python -m pyvornlex_search index'")


def open_existing(path: str, *, wait: float = 5.0) -> sqlite3.Connection:
    """Opens an existing database of ours for reading and writing, never
    creating one; a writer that holds it makes others wait up to `wait` seconds."""
    if not os.path.exists(path):
        raise DatabaseError(f"{path}: no such database (build one with: "
                            f"python -m pyvornlex_search index CORPUS {path})")
    if os.path.isdir(path):
        raise DatabaseError(f"{path}: is a directory, not a database")
    uri = "file:" + pathname2url(os.path.abspath(path)) + "?mode=rw"
    try:
        connection = sqlite3.connect(uri, uri=True, isolation_level=None,
                                     check_same_thread=False)
    except sqlite3.Error as error:
        raise DatabaseError(f"{path}: cannot open ({error})") from None
    try:
        connection.execute(f"PRAGMA busy_timeout = {max(0, int(wait * 1000))}")
        check_ours(connection, path)
    except sqlite3.DatabaseError as error:
        connection.close()
        raise DatabaseError(f"{path}: cannot read ({error})") from None
    except BaseException:
        connection.close()
        raise
    return connection


def meta(connection: sqlite3.Connection, key: str) -> object:
    row = connection.execute("SELECT value FROM meta WHERE key = ?", (key,)).fetchone()
    if row is None:
        raise DatabaseError(f"the database holds no '{key}': the file is damaged")
    return row[0]


def set_meta(connection: sqlite3.Connection, key: str, value: object) -> None:
    connection.execute("INSERT OR REPLACE INTO meta(key, value) VALUES (?, ?)", (key, value))
