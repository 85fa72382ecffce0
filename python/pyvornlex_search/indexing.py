"""Building a database, adding files to it, and cutting it again.

A new database is built in a scratch file beside the target and moved into
place only when complete, so an interrupted run leaves no database at all.
Every change to an existing database is one transaction (transaction.py):
until it commits, readers see the database as it was, and an interruption
rolls it back. Documents stream through in batches (writer.py): memory
depends on the batch and the vocabulary, not on the corpus."""

from __future__ import annotations

import gc
import math
import os
import sqlite3
import time
from contextlib import contextmanager
from typing import Iterator, NamedTuple

from _pyvornlex_files.atomic import sync_directory
from pyvornlex import Jieba

from .analysis import Analysis, Analyzer
from .corpus import DocumentShape, corpus_files, database_files
from .errors import CorpusError
from .layout import APPLICATION_ID, LAYOUT_VERSION, SCHEMA, meta, set_meta
from .placement import Scratch, check_target_free, move_into_place
from .report import IndexReport
from .settings import analyzer_for, stored_analyzer, stored_shape
from .store import derive_model
from .transaction import CommittedButInterrupted, interrupts_held, write_transaction
from .upgrade import upgrade_if_needed
from .writer import DocumentWriter, Progress, recut_stored

__all__ = ["IndexReport", "build_index", "add_documents", "reencode", "DEFAULT_WAIT"]

DEFAULT_WAIT = 30.0  # seconds a writer waits for another one to finish


@contextmanager
def collector_paused() -> Iterator[None]:
    """The road allocates millions of objects that never form cycles; the
    cyclic collector would walk the growing heap again and again for nothing."""
    was_enabled = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if was_enabled:
            gc.enable()


def check_parameters(b: float, k1: float) -> None:
    if isinstance(b, bool) or not (isinstance(b, (int, float)) and math.isfinite(b)
                                   and 0.0 <= b <= 1.0):
        raise ValueError(f"b must be a number from 0 to 1, not {b!r}")
    if isinstance(k1, bool) or not (isinstance(k1, (int, float)) and math.isfinite(k1)
                                    and k1 > 0.0):
        raise ValueError(f"k1 must be a positive finite number, not {k1!r}")


class FileCounts(NamedTuple):
    """What a sync found: files new, changed, gone and unchanged."""

    new_files: int = 0
    changed_files: int = 0
    removed_files: int = 0
    unchanged_files: int = 0


def run_report(database: str, writer: DocumentWriter, started: float,
               removed: int = 0, files: FileCounts = FileCounts()) -> IndexReport:
    skipped = writer.skipped()
    return IndexReport(database, writer.documents, writer.first_doc, writer.postings,
                       skipped.undecodable, skipped.blank, skipped.wordless,
                       time.perf_counter() - started, removed=removed,
                       binary_files=tuple(skipped.binary_files),
                       bad_records=tuple(skipped.bad_records), **files._asdict())


def removal_report(database: str, connection: sqlite3.Connection, removed: int,
                   started: float, files: FileCounts = FileCounts()) -> IndexReport:
    """The report of a run that added nothing."""
    next_doc = int(meta(connection, "next_doc"))  # type: ignore[call-overload]
    return IndexReport(database, 0, next_doc, 0, [], 0, 0, time.perf_counter() - started,
                       removed, **files._asdict())


def nothing_to_index(corpus: str, files: int, writer: DocumentWriter) -> CorpusError:
    skipped = writer.skipped()
    return CorpusError(
        f"{corpus}: no document to index ({files} file(s); {skipped.blank} blank, "
        f"{len(skipped.undecodable)} not decodable, {skipped.wordless} without a searchable "
        f"word, {len(skipped.binary_files)} binary file(s), {len(skipped.bad_records)} "
        "bad record(s))")


def build_index(corpus: str, database: str, *, analysis: Analysis | None = None,
                analyzer: Analyzer | None = None, jieba: Jieba | None = None,
                documents: str = "line", id_field: str = "id", text_field: str = "text",
                encoding: str = "utf-8", b: float = 0.75, k1: float = 1.2,
                threads: int | None = None, progress: Progress | None = None) -> IndexReport:
    """Indexes the corpus (a file, or a folder's files) into a new database
    at `database`, which must not exist yet.

    `documents` says what a document is: "line" (each line of each file),
    "file" (each file) or "record" (each line of a JSON Lines file, an
    object whose `id_field` is the record's own id and whose `text_field`
    its text). `analysis` says how text becomes words (analysis.py; the
    default folds case and width and leaves out the standard stop words);
    pass an `analyzer` built with it to share its Jieba. Both are stored and
    used by every later run."""
    started = time.perf_counter()
    check_parameters(b, k1)
    shape = DocumentShape(documents, id_field, text_field, encoding).checked()
    check_target_free(database)
    if analyzer is None:
        analyzer = analyzer_for(analysis if analysis is not None else Analysis(), jieba, threads)
    elif analysis is not None and analysis != analyzer.analysis:
        raise ValueError("give the analysis or an analyzer built with it, not two analyses")
    files = corpus_files(corpus, exclude=database_files(database))
    folder = os.path.dirname(os.path.abspath(database))
    scratch = Scratch(database)
    try:
        with collector_paused():
            writer = _build_file(scratch.path, files, analyzer, shape, b, k1, progress)
        if writer.documents == 0:
            raise nothing_to_index(corpus, len(files), writer)
        with interrupts_held() as held:
            move_into_place(scratch.path, database)
            held.committed()
            scratch.remove()
            sync_directory(folder)
        report = run_report(database, writer, started)
        if held.received:
            raise CommittedButInterrupted(report)
        return report
    finally:
        with interrupts_held():
            scratch.remove()


def _build_file(path: str, files: list, analyzer: Analyzer,  # type: ignore[type-arg]
                shape: DocumentShape, b: float, k1: float,
                progress: Progress | None) -> DocumentWriter:
    """Builds the database in `path`, a file that nobody else sees yet."""
    connection = sqlite3.connect(path, isolation_level=None)
    try:
        # Nothing to protect until the file is complete: no journal, no syncs.
        # Pages of 16 KiB hold a block of postings without an overflow page
        # (which a 4 KiB page would need, and fill by half).
        connection.executescript(
            "PRAGMA page_size = 16384; PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;"
            "PRAGMA cache_size = -65536; PRAGMA temp_store = MEMORY;"
            f"PRAGMA application_id = {APPLICATION_ID};"
            f"PRAGMA user_version = {LAYOUT_VERSION};"
            "BEGIN;" + SCHEMA)
        for key, value in (("analysis", analyzer.analysis.to_json()),
                           ("fingerprints", analyzer.analysis.fingerprints()),
                           ("documents", shape.to_json()), ("b", b"%f" % b),
                           ("k1", b"%f" % k1), ("next_doc", 1), ("length_total", 0),
                           ("removed_postings", 0)):
            set_meta(connection, key, value)
        writer = DocumentWriter(connection, analyzer, shape, progress)
        writer.add_files(files)
        writer.finish()
        if writer.documents:
            derive_model(connection)
        connection.execute("COMMIT")
        connection.execute("PRAGMA journal_mode = WAL")
    finally:
        connection.close()
    with open(path, "rb+") as handle:
        os.fsync(handle.fileno())
    return writer


def add_documents(corpus: str, database: str, *, analyzer: Analyzer | None = None,
                  jieba: Jieba | None = None, threads: int | None = None,
                  wait: float = DEFAULT_WAIT, progress: Progress | None = None) -> IndexReport:
    """Adds the documents of the corpus's files, none of which the database
    holds yet, in one transaction, with the database's own analysis and
    document shape. Files it holds already are refused: `sync` replaces
    their documents."""
    started = time.perf_counter()
    upgrade_if_needed(database, jieba=jieba, threads=threads)
    checked = stored_analyzer(database, analyzer, jieba, threads)

    def change(connection: sqlite3.Connection) -> IndexReport:
        shape = stored_shape(connection)
        files = corpus_files(corpus, exclude=database_files(database))
        held = [source.path for source in files if connection.execute(
            "SELECT 1 FROM source WHERE path = ?", (source.path,)).fetchone()]
        if held:
            shown = ", ".join(held[:3]) + (" ..." if len(held) > 3 else "")
            raise CorpusError(f"{len(held)} file(s) of {corpus} are in the database already "
                              f"({shown}): keep them in step with 'python -m pyvornlex_search "
                              f"sync {corpus} {database}' (nothing was changed)")
        writer = DocumentWriter(connection, checked, shape, progress)
        writer.add_files(files)
        writer.finish()
        if writer.documents == 0:
            raise nothing_to_index(corpus, len(files), writer)
        derive_model(connection, writer.changed_words)
        return run_report(database, writer, started)

    with collector_paused():
        return write_transaction(database, wait, change)


def reencode(database: str, *, use_current_files: bool = False,
             analyzer: Analyzer | None = None, jieba: Jieba | None = None,
             threads: int | None = None, wait: float = DEFAULT_WAIT,
             progress: Progress | None = None) -> IndexReport:
    """Cuts every stored document again with the stored analysis and rebuilds
    the postings and counts, in one transaction. With `use_current_files`,
    the analysis's files (user dictionaries, stop words) are taken as they
    are now, and their new fingerprints stored: the way forward when a file
    changed on purpose. Documents that no longer cut to a word are removed."""
    started = time.perf_counter()
    upgrade_if_needed(database, jieba=jieba, threads=threads)
    checked = stored_analyzer(database, analyzer, jieba, threads, check=not use_current_files)

    def change(connection: sqlite3.Connection) -> IndexReport:
        shape = stored_shape(connection)
        if use_current_files:
            set_meta(connection, "fingerprints", checked.analysis.fingerprints())
        writer, wordless = recut_stored(connection, checked, shape, progress)
        if writer.documents == 0:
            raise CorpusError(f"{database}: no stored document cuts to a searchable word with "
                              "this analysis (nothing was changed)")
        derive_model(connection)
        return run_report(database, writer, started, removed=wordless)

    with collector_paused():
        return write_transaction(database, wait, change)
