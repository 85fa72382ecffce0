"""Keeping a database in step with files that change: `sync` makes it hold
exactly what a corpus path holds now, `delete` takes files or records out.

Both are one transaction. The model file is derived again from the exact
counts afterwards, so it equals the model of a fresh index of the same
documents; weights are computed at query time, so no document keeps the
weights of an old average length. A changed file is read whole and matched
with its stored documents; those it still holds stay, so that a sync costs
what changed rather than the size of the files it touched."""

from __future__ import annotations

import hashlib
import os
import sqlite3
import time
from collections import deque
from typing import Iterable, NamedTuple, Sequence

from pyvornlex import Jieba

from .analysis import Analyzer
from .corpus import Document, DocumentShape, FileReading, SourceFile, corpus_files, database_files
from .errors import CorpusError
from .indexing import (DEFAULT_WAIT, FileCounts, collector_paused, removal_report,
                       run_report)
from .report import IndexReport
from .settings import stored_analyzer, stored_analyzer_later, stored_shape
from .store import derive_model
from .transaction import write_transaction
from .upgrade import upgrade_if_needed
from .writer import DocumentWriter, Progress, remove_documents

__all__ = ["sync", "delete_documents"]


class _Stored(NamedTuple):
    id: int
    size: int
    mtime_ns: int
    sha256: bytes


def _content_hash(path: str) -> bytes:
    digest = hashlib.sha256()
    try:
        with open(path, "rb") as handle:
            for block in iter(lambda: handle.read(1 << 20), b""):
                digest.update(block)
    except OSError as error:
        raise CorpusError(f"{path}: cannot read ({error.strerror or error})") from None
    return digest.digest()


def _documents_of(connection: sqlite3.Connection, sources: Iterable[_Stored]) -> list[int]:
    """The stored documents of the sources, in ascending number."""
    docs = []
    for source in sources:
        docs += [row[0] for row in connection.execute(
            "SELECT id FROM document WHERE source = ?", (source.id,))]
    docs.sort()
    return docs


class _Edit(NamedTuple):
    """What a changed file holds now against what the database holds of it."""

    held: _Stored
    reading: FileReading  # read through: its hash and what it skipped are known
    added: list[Document]  # documents the database lacks
    removed: list[int]  # stored documents the file no longer holds
    kept: list[int]  # stored documents it still holds
    moved: list[tuple[int, int]]  # (line, document) of the kept ones that moved


def _edit(connection: sqlite3.Connection, held: _Stored, source: SourceFile,
          shape: DocumentShape) -> _Edit:
    """Reads a changed file and matches its documents with the stored ones by
    record id and text, in the order of their lines: an edit of one line of
    a hundred replaces one document, not a hundred."""
    stored: dict[tuple[object, str], deque[tuple[int, int]]] = {}
    for doc, line, record, text in connection.execute(
            "SELECT id, line, record, text FROM document WHERE source = ? ORDER BY line, id",
            (held.id,)):
        stored.setdefault((record, text), deque()).append((doc, line))
    reading = FileReading(source, shape)
    added, kept, moved = [], [], []
    for document in reading.documents():
        same = stored.get((document.record, document.text))
        if same:
            doc, line = same.popleft()
            kept.append(doc)
            if line != document.line:
                moved.append((document.line, doc))
        else:
            added.append(document)
    removed = [doc for docs in stored.values() for doc, _ in docs]
    return _Edit(held, reading, added, removed, kept, moved)


def sync(corpus: str, database: str, *, analyzer: Analyzer | None = None,
         jieba: Jieba | None = None, threads: int | None = None,
         wait: float = DEFAULT_WAIT, progress: Progress | None = None) -> IndexReport:
    """Makes the database hold exactly the documents of the corpus path as it
    is now, in one transaction: new files are added, the documents that
    changed files no longer hold are removed and the ones they gained added,
    the documents of files that are gone (or were never under the path)
    removed, and unchanged files skipped without being read (same size and
    modification time; when those changed, the same content)."""
    started = time.perf_counter()
    upgrade_if_needed(database, jieba=jieba, threads=threads)
    # Built in the transaction, and only when something is to be cut: a
    # sync of a folder that did not change then costs the walk.
    checked = stored_analyzer_later(database, analyzer, jieba, threads)

    def change(connection: sqlite3.Connection) -> IndexReport:
        shape = stored_shape(connection)
        stored = {row[0]: _Stored(*row[1:]) for row in connection.execute(
            "SELECT path, id, size, mtime_ns, sha256 FROM source")}
        new: list[SourceFile] = []
        changed: list[tuple[_Stored, SourceFile]] = []
        unchanged = 0
        for source in corpus_files(corpus, exclude=database_files(database)):
            held = stored.pop(source.path, None)
            if held is None:
                new.append(source)
            elif (held.size, held.mtime_ns) == (source.size, source.mtime_ns):
                unchanged += 1
            elif held.size == source.size and _content_hash(source.path) == held.sha256:
                connection.execute("UPDATE source SET mtime_ns = ? WHERE id = ?",
                                   (source.mtime_ns, held.id))
                unchanged += 1
            else:
                changed.append((held, source))
        gone = list(stored.values())
        if not (new or changed or gone):
            return removal_report(database, connection, 0, started,
                                  FileCounts(unchanged_files=unchanged))
        # Every removal before any addition: a record may move between files.
        edits = [_edit(connection, held, source, shape) for held, source in sorted(
            changed, key=lambda pair: pair[1].path)]
        docs = sorted(_documents_of(connection, gone) +
                      [doc for edit in edits for doc in edit.removed])
        changed_words: set[str] = set()
        removed = remove_documents(connection, checked(), docs, progress,
                                   changed_words) if docs else 0
        connection.executemany("DELETE FROM source WHERE id = ?", [(held.id,) for held in gone])
        connection.executemany("UPDATE document SET line = ? WHERE id = ?",
                               [move for edit in edits for move in edit.moved])
        counts = FileCounts(len(new), len(changed), len(gone), unchanged)
        if not (new or edits):
            derive_model(connection, changed_words)
            return removal_report(database, connection, removed, started, counts)
        writer = DocumentWriter(connection, checked(), shape, progress)
        writer.add_files(sorted(new))
        for edit in edits:
            writer.add_read(edit.held.id, edit.reading, edit.added, edit.kept)
        writer.finish()
        derive_model(connection, changed_words | writer.changed_words)
        return run_report(database, writer, started, removed, counts)

    with collector_paused():
        return write_transaction(database, wait, change)


def delete_documents(database: str, *, files: Sequence[str] = (),
                     ids: Sequence[str | int] = (), analyzer: Analyzer | None = None,
                     jieba: Jieba | None = None, threads: int | None = None,
                     wait: float = DEFAULT_WAIT, progress: Progress | None = None) -> IndexReport:
    """Removes the documents of the files `files` (paths as indexed; relative
    ones from the current folder) and the records whose ids are in `ids`,
    in one transaction. A path or id that the database does not hold refuses
    the whole deletion. A file whose records were deleted by id is marked
    changed, so that a later `sync` reads it again."""
    started = time.perf_counter()
    if not files and not ids:
        raise ValueError("name the files or the record ids to delete")
    upgrade_if_needed(database, jieba=jieba, threads=threads)
    checked = stored_analyzer(database, analyzer, jieba, threads)

    def change(connection: sqlite3.Connection) -> IndexReport:
        sources = []
        for path in files:
            row = connection.execute("SELECT id, size, mtime_ns, sha256 FROM source WHERE path = ?",
                                     (os.path.abspath(path),)).fetchone()
            if row is None:
                raise CorpusError(f"{path}: the database holds no document of this file "
                                  "(nothing was changed)")
            sources.append(_Stored(*row))
        records = []
        for record in ids:
            row = connection.execute("SELECT id, source FROM document WHERE record = ?",
                                     (record,)).fetchone()
            if row is None and isinstance(record, str) and record.lstrip("-").isdigit():
                row = connection.execute("SELECT id, source FROM document WHERE record = ?",
                                         (int(record),)).fetchone()
            if row is None:
                raise CorpusError(f"no record has the id {record!r} (nothing was changed)")
            records.append(row)
        docs = sorted(set(_documents_of(connection, sources)) | {doc for doc, _ in records})
        changed_words: set[str] = set()
        removed = remove_documents(connection, checked, docs, progress, changed_words)
        connection.executemany("DELETE FROM source WHERE id = ?", [(s.id,) for s in sources])
        connection.executemany("UPDATE source SET mtime_ns = -1, sha256 = x'' WHERE id = ?",
                               [(source,) for _, source in records])
        derive_model(connection, changed_words)
        return removal_report(database, connection, removed, started)

    with collector_paused():
        return write_transaction(database, wait, change)
