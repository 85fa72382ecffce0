"""Indexing: cut, train, encode, and store the postings by word.

A new database is built in a file beside the target and moved into place
only when complete, so an interrupted run leaves no database at all.
Adding to or re-encoding an existing database is one transaction: until it
commits, readers see the database as it was, and an interruption rolls it
back."""

from __future__ import annotations

import gc
import math
import os
import sqlite3
import time
from contextlib import contextmanager
from typing import Iterable, Iterator, NamedTuple

from _pyvornlex_files.atomic import sync_directory
from _pyvornlex_files.model_file import model_bytes, read_model
from pyvornlex import BM25, Jieba

from .corpus import read_corpus
from .errors import CorpusError, DatabaseError
from .layout import APPLICATION_ID, LAYOUT_VERSION, SCHEMA, open_existing
from .placement import check_target_free, move_into_place, scratch_file
from .postings import PostingLists, TokenStats
from .words import SEGMENTER, Segmenter

__all__ = ["IndexReport", "build_index", "add_documents", "reencode"]

class IndexReport(NamedTuple):
    """What a run stored and what it left out."""

    database: str
    documents: int  # documents stored by this run
    first_doc: int  # their numbers: first_doc .. first_doc + documents - 1
    postings: int  # postings written by this run
    not_utf8: list[tuple[str, int]]  # (file, line number) of each line skipped as not UTF-8
    blank_lines: int  # lines skipped as empty or blank
    wordless_lines: int  # lines skipped because they cut to no searchable word
    seconds: float


class _Batch(NamedTuple):
    sources: list[str]
    rows: list[tuple[int, int, str]]  # (source index, line number, text) of each document
    words: list[list[str]]
    not_utf8: list[tuple[str, int]]
    blank_lines: int
    wordless_lines: int


@contextmanager
def _collector_paused() -> Iterator[None]:
    """The road allocates millions of objects that never form cycles; the
    cyclic collector would walk the growing heap again and again for nothing."""
    was_enabled = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if was_enabled:
            gc.enable()


def _read_and_cut(corpus: str, segmenter: Segmenter) -> _Batch:
    text = read_corpus(corpus)
    words = segmenter.cut_many([line.text for line in text.lines])
    rows, kept = [], []
    for line, line_words in zip(text.lines, words):
        if line_words:
            rows.append((line.source, line.number, line.text))
            kept.append(line_words)
    not_utf8 = [(text.sources[source], number) for source, number in text.not_utf8]
    batch = _Batch(text.sources, rows, kept, not_utf8, text.blank, len(words) - len(kept))
    if not rows:
        raise CorpusError(
            f"{corpus}: no document to index ({len(text.sources)} file(s); "
            f"{batch.blank_lines} blank line(s), {len(not_utf8)} line(s) not UTF-8, "
            f"{batch.wordless_lines} line(s) without a searchable word)")
    return batch


def _check_parameters(b: float, k1: float) -> None:
    if not (isinstance(b, (int, float)) and math.isfinite(b) and 0.0 <= b <= 1.0):
        raise ValueError(f"b must be a number from 0 to 1, not {b!r}")
    if not (isinstance(k1, (int, float)) and math.isfinite(k1) and k1 > 0.0):
        raise ValueError(f"k1 must be a positive finite number, not {k1!r}")


def _trained_encoder(model: BM25, words: Iterable[list[str]]) -> tuple[bytes, BM25]:
    """Trains `model`, then returns its file and a model loaded from that file.

    Documents are encoded with the loaded model, not the trained one: the file
    keeps the average length to six decimals, and the stored weights must be
    what anyone who loads the stored file computes."""
    train = model.train
    for document in words:
        train(document)
    content = model_bytes(model)
    encoder = BM25()
    encoder.load(content)  # type: ignore[arg-type]  # load takes the file's bytes as well
    return content, encoder


def _new_token_ids(content: bytes, known: dict[str, int]) -> dict[str, int]:
    """Ids for the model's words not yet in `known`, after the known ones, the
    most frequent first."""
    counts = {token.decode("utf-8"): count for token, count in read_model(content).counts.items()}
    fresh = sorted((word for word in counts if word not in known),
                   key=lambda word: (-counts[word], word))
    start = max(known.values(), default=-1) + 1
    return {word: start + offset for offset, word in enumerate(fresh)}


def _encoded(encoder: BM25, documents: Iterable[tuple[int, list[str]]],
             ids: dict[str, int]) -> PostingLists:
    """The postings of documents given in ascending number, gathered by word."""
    lists = PostingLists(max(ids.values(), default=-1) + 1)
    encode, token_id, add = encoder.encode_document, ids.__getitem__, lists.add
    for doc, document in documents:
        vector = encode(document)
        add(doc, map(token_id, vector), vector.values())
    return lists


def _store(connection: sqlite3.Connection, batch: _Batch, content: bytes,
           encoder: BM25, first_doc: int, known: dict[str, int]) -> int:
    """Writes the batch's sources, documents, words and postings, and the
    model; returns the number of postings."""
    first_source = connection.execute("SELECT coalesce(max(id), 0) + 1 FROM source").fetchone()[0]
    connection.executemany("INSERT INTO source(id, path) VALUES (?, ?)",
                           [(first_source + index, os.path.abspath(path))
                            for index, path in enumerate(batch.sources)])
    connection.executemany(
        "INSERT INTO document(id, source, line, text) VALUES (?, ?, ?, ?)",
        [(doc, first_source + source, number, text)
         for doc, (source, number, text) in enumerate(batch.rows, first_doc)])
    ids = {**known, **_new_token_ids(content, known)}
    lists = _encoded(encoder, enumerate(batch.words, first_doc), ids)
    _write_tokens(connection, ids, lists.write(connection), every_word=False)
    _record_encoding(connection, content, first_doc, first_doc + len(batch.words) - 1)
    connection.execute("INSERT OR REPLACE INTO meta(key, value) VALUES ('model', ?)", (content,))
    return lists.count


def _record_encoding(connection: sqlite3.Connection, content: bytes, first_doc: int,
                     last_doc: int) -> None:
    average = float(read_model(content).average_text)
    connection.execute("INSERT INTO encoding(first_doc, last_doc, doc_length_average) "
                       "VALUES (?, ?, ?)", (first_doc, last_doc, average))


def _write_tokens(connection: sqlite3.Connection, ids: dict[str, int],
                  added: dict[int, TokenStats], every_word: bool) -> None:
    """Writes the rows of the words that got postings, their counts and
    weight bounds merged with what the table held; with `every_word`, also
    the words that got none (their counts 0)."""
    held = {token: TokenStats(postings, low, high) for token, postings, low, high in
            connection.execute("SELECT id, postings, min_weight, max_weight FROM token "
                               "WHERE postings > 0")}
    rows = []
    for word, token in ids.items():
        new, old = added.get(token), held.get(token)
        if new is None:
            if old is None and every_word:
                rows.append((word, token, 0, 0.0, 0.0))
            continue
        if old is not None:
            new = TokenStats(old.postings + new.postings, min(old.low, new.low),
                             max(old.high, new.high))
        rows.append((word, token, new.postings, new.low, new.high))
    connection.executemany("INSERT OR REPLACE INTO token(word, id, postings, min_weight, "
                           "max_weight) VALUES (?, ?, ?, ?, ?)", rows)


def _report(database: str, batch: _Batch, first_doc: int, postings: int,
            started: float) -> IndexReport:
    return IndexReport(database, len(batch.rows), first_doc, postings, batch.not_utf8,
                       batch.blank_lines, batch.wordless_lines, time.perf_counter() - started)


def build_index(corpus: str, database: str, *, jieba: Jieba | None = None,
                b: float = 0.75, k1: float = 1.2, threads: int | None = None) -> IndexReport:
    """Indexes the corpus (a file, one document per line, or a folder of such
    files) into a new database at `database`, which must not exist yet."""
    started = time.perf_counter()
    _check_parameters(b, k1)
    check_target_free(database)
    segmenter = Segmenter(jieba, threads)
    with _collector_paused():
        batch = _read_and_cut(corpus, segmenter)
        content, encoder = _trained_encoder(BM25(b, k1), batch.words)
        folder = os.path.dirname(os.path.abspath(database))
        partial = scratch_file(folder, database, ".partial")
        try:
            postings = _build_file(partial, batch, content, encoder)
            move_into_place(partial, database)
        finally:
            os.unlink(partial)
    sync_directory(folder)
    return _report(database, batch, 1, postings, started)


def _build_file(partial: str, batch: _Batch, content: bytes, encoder: BM25) -> int:
    """Builds the database in `partial`, a file that nobody else sees yet."""
    connection = sqlite3.connect(partial, isolation_level=None)
    try:
        # Nothing to protect until the file is complete: no journal, no syncs.
        # Every table goes in in key order (postings by word, in blocks), so
        # the pages come out full without a compacting copy.
        connection.executescript(
            "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;"
            "PRAGMA cache_size = -262144; PRAGMA temp_store = MEMORY;"
            f"PRAGMA application_id = {APPLICATION_ID};"
            f"PRAGMA user_version = {LAYOUT_VERSION};"
            "BEGIN;" + SCHEMA)
        connection.execute("INSERT INTO meta(key, value) VALUES ('segmenter', ?)", (SEGMENTER,))
        postings = _store(connection, batch, content, encoder, 1, {})
        connection.execute("COMMIT")
        connection.execute("PRAGMA journal_mode = WAL")
    finally:
        connection.close()
    with open(partial, "rb+") as handle:
        os.fsync(handle.fileno())
    return postings


@contextmanager
def _write_transaction(database: str) -> Iterator[sqlite3.Connection]:
    connection = open_existing(database)
    try:
        connection.executescript("PRAGMA cache_size = -262144; PRAGMA temp_store = MEMORY;")
        try:
            connection.execute("BEGIN IMMEDIATE")
        except sqlite3.OperationalError as error:
            raise DatabaseError(f"{database}: cannot write now ({error})") from None
        try:
            yield connection
            connection.execute("COMMIT")
        except BaseException:
            connection.execute("ROLLBACK")
            raise
    finally:
        connection.close()


def _stored_model(connection: sqlite3.Connection) -> BM25:
    model = BM25()
    model.load(connection.execute("SELECT value FROM meta WHERE key = 'model'").fetchone()[0])
    return model


def add_documents(corpus: str, database: str, *, jieba: Jieba | None = None,
                  threads: int | None = None) -> IndexReport:
    """Adds the corpus's documents to an existing database, in one transaction.

    The stored model learns the new documents, and queries use its new
    statistics. The new documents are encoded with the new average length;
    the documents stored before keep the weights of the average they were
    encoded with (`SearchIndex.stale_documents` counts them) until `reencode`."""
    started = time.perf_counter()
    segmenter = Segmenter(jieba, threads)
    with _collector_paused(), _write_transaction(database) as connection:
        batch = _read_and_cut(corpus, segmenter)
        content, encoder = _trained_encoder(_stored_model(connection), batch.words)
        first_doc = connection.execute("SELECT coalesce(max(id), 0) + 1 FROM document").fetchone()[0]
        known = dict(connection.execute("SELECT word, id FROM token"))
        postings = _store(connection, batch, content, encoder, first_doc, known)
    return _report(database, batch, first_doc, postings, started)


def reencode(database: str, *, jieba: Jieba | None = None,
             threads: int | None = None) -> IndexReport:
    """Encodes every stored document again with the stored model, in one
    transaction, so that all weights use the model's current average length."""
    started = time.perf_counter()
    segmenter = Segmenter(jieba, threads)
    with _collector_paused(), _write_transaction(database) as connection:
        content = connection.execute("SELECT value FROM meta WHERE key = 'model'").fetchone()[0]
        model = BM25()
        model.load(content)
        documents = connection.execute("SELECT id, text FROM document ORDER BY id").fetchall()
        words = segmenter.cut_many([text for _, text in documents])
        known = dict(connection.execute("SELECT word, id FROM token"))
        # A segmenter that changed since indexing may bring words never seen.
        missing = sorted({word for document in words for word in document} - known.keys())
        start = max(known.values(), default=-1) + 1
        ids = {**known, **{word: start + offset for offset, word in enumerate(missing)}}
        lists = _encoded(
            model, ((doc, document) for (doc, _), document in zip(documents, words) if document),
            ids)
        connection.execute("DELETE FROM posting")
        connection.execute("DELETE FROM token")
        # Every word: some may have lost all their postings.
        _write_tokens(connection, ids, lists.write(connection), every_word=True)
        connection.execute("DELETE FROM encoding")
        _record_encoding(connection, content, documents[0][0], documents[-1][0])
    return IndexReport(database, len(documents), documents[0][0], lists.count, [], 0, 0,
                       time.perf_counter() - started)
