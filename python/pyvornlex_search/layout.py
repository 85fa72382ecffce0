"""The database layout: tables, the marks that tell our databases apart from
any other SQLite file, and the checks made on opening one.

Postings are stored by word, in blocks (postings.py): a row per word and
indexing run, keyed by (token, first document) in a table without rowids,
whose key is the only index the search needs. Token ids are small integers
given in descending order of corpus frequency.
"""

from __future__ import annotations

import os
import sqlite3
from urllib.request import pathname2url

from .errors import DatabaseError

__all__ = ["APPLICATION_ID", "LAYOUT_VERSION", "SCHEMA", "open_existing", "check_ours"]

# "VORN" in ASCII: SQLite keeps it in the file header (PRAGMA application_id).
APPLICATION_ID = 0x564F524E
# Raised whenever a table or the meaning of a stored value changes.
LAYOUT_VERSION = 1

SCHEMA = """
CREATE TABLE meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;
CREATE TABLE source(id INTEGER PRIMARY KEY, path TEXT NOT NULL);
CREATE TABLE document(
    id INTEGER PRIMARY KEY,
    source INTEGER NOT NULL REFERENCES source(id),
    line INTEGER NOT NULL,
    text TEXT NOT NULL);
CREATE TABLE token(
    word TEXT PRIMARY KEY,
    id INTEGER NOT NULL,
    postings INTEGER NOT NULL,
    min_weight REAL NOT NULL,
    max_weight REAL NOT NULL) WITHOUT ROWID;
CREATE TABLE posting(
    token INTEGER NOT NULL,
    first_doc INTEGER NOT NULL,
    docs BLOB NOT NULL,
    weights BLOB NOT NULL,
    PRIMARY KEY(token, first_doc)) WITHOUT ROWID;
CREATE TABLE encoding(
    first_doc INTEGER PRIMARY KEY,
    last_doc INTEGER NOT NULL,
    doc_length_average REAL NOT NULL);
"""


def check_ours(connection: sqlite3.Connection, path: str) -> None:
    """Raises DatabaseError unless the open database is ours, of a layout we read."""
    try:
        application_id = connection.execute("PRAGMA application_id").fetchone()[0]
        version = connection.execute("PRAGMA user_version").fetchone()[0]
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


def open_existing(path: str) -> sqlite3.Connection:
    """Opens an existing database of ours for reading and writing, never creating one."""
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
        check_ours(connection, path)
        connection.execute("PRAGMA busy_timeout = 5000")
    except BaseException:
        connection.close()
        raise
    return connection
