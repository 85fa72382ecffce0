"""Adding and removing documents inside one open transaction, in batches,
so that memory depends on the batch and the vocabulary, never on the corpus.

Adding cuts a batch of documents on the analyzer's threads, stores their
rows and lengths, and hands each document's term frequencies to the posting
writer. Removing cuts the removed documents' stored text again with the same
analysis (which the database checked to be unchanged) to know what to take
away from each word. Either way the `token` table's counts stay exact, and
the model file is derived from them at the end (store.derive_model)."""

from __future__ import annotations

import json
import sqlite3
from collections import Counter, deque
from concurrent.futures import Future, ThreadPoolExecutor
from itertools import chain, islice
from typing import Callable, Iterable, Iterator, NamedTuple, Sequence

from .analysis import Analyzer
from .corpus import Document, DocumentShape, FileReading, SourceFile
from .errors import CorpusError
from .layout import meta, set_meta
from .postings import PostingWriter, drop_removed
from .store import clear_lengths, read_lengths, write_lengths

__all__ = ["Skipped", "DocumentWriter", "remove_documents", "recut_stored", "BATCH"]

BATCH = 4096  # documents cut and stored at a time
# Postings held (8 bytes each: 128 MB) before all are written as shorter blocks: the
# fewer such flushes, the fewer short blocks a rare word ends up with.
POSTINGS_WAITING = 16_000_000

Progress = Callable[[int, int], None]  # (documents, bytes) done since the last call


class Skipped(NamedTuple):
    """What a run read but did not store."""

    undecodable: list[tuple[str, int]]  # (file, line); line 0: the whole file
    blank: int  # blank lines, records and files
    wordless: int  # documents that cut to no searchable word
    binary_files: list[str]
    bad_records: list[tuple[str, int, str]]  # (file, line, why)


class _Vocabulary(dict[str, int]):
    """word -> token id, for the words a run meets: a stored word keeps its
    id (looked up when first met, so that a small change does not read the
    whole vocabulary), a new word gets the next id."""

    def __init__(self, connection: sqlite3.Connection) -> None:
        super().__init__()
        self._connection = connection
        self.next_id = connection.execute("SELECT coalesce(max(id), -1) + 1 FROM token").fetchone()[0]
        self._stored = self.next_id > 0

    def look_up(self, words: Iterable[str]) -> None:
        """Takes the ids of the stored words among `words` in one query."""
        if self._stored:
            unknown = [word for word in set(words) if word not in self]
            self.update(self._connection.execute(
                "SELECT word, id FROM token WHERE word IN (SELECT value FROM json_each(?))",
                (json.dumps(unknown, ensure_ascii=False),)))

    def __missing__(self, word: str) -> int:
        row = self._connection.execute("SELECT id FROM token WHERE word = ?",
                                       (word,)).fetchone() if self._stored else None
        if row is not None:
            token: int = row[0]
        else:
            token = self.next_id
            self.next_id += 1
        self[word] = token
        return token


def _batches(items: Iterator[Document], size: int) -> Iterator[list[Document]]:
    while True:
        batch = list(islice(items, size))
        if not batch:
            return
        yield batch


class DocumentWriter:
    """Stores new documents and their postings; `finish()` completes the
    counts. Documents get the numbers from meta 'next_doc' on; `post_stored`
    posts stored ones again (numbers from `first_doc` on)."""

    def __init__(self, connection: sqlite3.Connection, analyzer: Analyzer,
                 shape: DocumentShape, progress: Progress | None = None,
                 first_doc: int | None = None) -> None:
        self._connection = connection
        self._analyzer = analyzer
        self._shape = shape
        self._progress = progress
        self.first_doc = (first_doc if first_doc is not None
                          else int(meta(connection, "next_doc")))  # type: ignore[call-overload]
        self._next_doc = self.first_doc
        self._vocabulary = _Vocabulary(connection)
        self._postings = PostingWriter(connection, self.first_doc, POSTINGS_WAITING)
        self._next_source = connection.execute(
            "SELECT coalesce(max(id), 0) + 1 FROM source").fetchone()[0]
        self._paths: dict[int, str] = {}  # of the sources this run adds
        self.documents = 0
        self.undecodable: list[tuple[str, int]] = []
        self.blank = self.wordless = 0
        self.binary_files: list[str] = []
        self.bad_records: list[tuple[str, int, str]] = []
        self.changed_words: set[str] = set()  # words whose counts this run changed

    @property
    def postings(self) -> int:
        return self._postings.count

    def skipped(self) -> Skipped:
        return Skipped(self.undecodable, self.blank, self.wordless, self.binary_files,
                       self.bad_records)

    def add_files(self, files: Sequence[SourceFile]) -> None:
        """Stores the documents of every file, and a `source` row for each.

        The next batch is cut on the analyzer's threads while this one is
        stored, so that cutting (which lets go of the interpreter lock) and
        storing (which holds it) overlap."""
        readings = [FileReading(source, self._shape) for source in files]
        first_source = self._next_source
        self._next_source += len(readings)
        self._paths.update((first_source + number, source.path)
                           for number, source in enumerate(files))
        ranges: dict[int, tuple[int, int]] = {}  # file number -> (first, last document)
        with ThreadPoolExecutor(1) as cutter:
            pending: deque[tuple[int, list[Document], int, Future[list[list[str]]]]] = deque()
            for number, batch, read in self._batches(readings):
                texts = [document.text for document in batch]
                pending.append((number, batch, read,
                                cutter.submit(self._analyzer.cut_many, texts)))
                if len(pending) > 1:
                    self._store_cut(pending.popleft(), first_source, ranges)
            while pending:
                self._store_cut(pending.popleft(), first_source, ranges)
        for number, reading in enumerate(readings):
            first, last = ranges.get(number, (self._next_doc, self._next_doc - 1))
            source = reading.source
            self._connection.execute(
                "INSERT INTO source(id, path, size, mtime_ns, sha256, first_doc, last_doc) "
                "VALUES (?, ?, ?, ?, ?, ?, ?)",
                (first_source + number, source.path, source.size, source.mtime_ns,
                 reading.sha256, first, last))
            self._note_skipped(reading)

    def add_read(self, source_id: int, reading: FileReading, documents: list[Document],
                 kept: Sequence[int]) -> None:
        """Stores `documents`, read from `reading`'s file, under the file's
        stored `source` row, which then describes the file as read; `kept`:
        the file's stored documents that stay."""
        first = self._next_doc
        for batch in _batches(iter(documents), BATCH):
            self._add_batch(source_id, batch, self._analyzer.cut_many(
                [document.text for document in batch]))
            if self._progress is not None:
                self._progress(len(batch), 0)
        numbers = list(kept)
        if self._next_doc > first:
            numbers += [first, self._next_doc - 1]
        source = reading.source
        self._connection.execute(
            "UPDATE source SET size = ?, mtime_ns = ?, sha256 = ?, first_doc = ?, last_doc = ? "
            "WHERE id = ?", (source.size, source.mtime_ns, reading.sha256,
                             min(numbers, default=self._next_doc),
                             max(numbers, default=self._next_doc - 1), source_id))
        if self._progress is not None:
            self._progress(0, source.size)
        self._note_skipped(reading)

    @staticmethod
    def _batches(readings: list[FileReading]) -> Iterator[tuple[int, list[Document], int]]:
        """Batches of one file's documents: (the file's number, the batch,
        the bytes read for it)."""
        for number, reading in enumerate(readings):
            read = 0
            for batch in _batches(reading.documents(), BATCH):
                yield number, batch, reading.consumed - read
                read = reading.consumed
            if reading.source.size > read:  # what the last batch left, or a file without one
                yield number, [], reading.source.size - read

    def _store_cut(self, item: tuple[int, list[Document], int, Future[list[list[str]]]],
                   first_source: int, ranges: dict[int, tuple[int, int]]) -> None:
        number, batch, read, cut = item
        first = ranges.get(number, (self._next_doc, 0))[0]
        self._add_batch(first_source + number, batch, cut.result())
        ranges[number] = (first, self._next_doc - 1)
        if self._progress is not None:
            self._progress(len(batch), read)

    def _note_skipped(self, reading: FileReading) -> None:
        path = reading.source.path
        self.undecodable.extend((path, line) for line in reading.undecodable)
        self.blank += reading.blank
        if reading.binary:
            self.binary_files.append(path)
        self.bad_records.extend((path, line, why) for line, why in reading.bad_records)

    def _post(self, docs: Sequence[int], words: list[list[str]]) -> None:
        """The postings and lengths of the documents `docs` (ascending, above
        every document posted before), each cut to some words."""
        self._postings.add_documents(docs, words, self._vocabulary.__getitem__)

    def _add_batch(self, source_id: int, batch: list[Document], words: list[list[str]]) -> None:
        self._vocabulary.look_up(chain.from_iterable(words))
        rows = []
        kept = []
        doc = self._next_doc
        for document, document_words in zip(batch, words):
            if document_words:
                rows.append((doc, source_id, document.line, document.record, document.text))
                kept.append(document_words)
                doc += 1
        self.wordless += len(batch) - len(rows)
        self._post(range(self._next_doc, doc), kept)
        self._postings.end_batch()
        try:
            self._connection.executemany(
                "INSERT INTO document(id, source, line, record, text) VALUES (?, ?, ?, ?, ?)",
                rows)
        except sqlite3.IntegrityError:
            raise self._repeated_record(rows) from None
        self._next_doc = doc
        self.documents += len(rows)

    def _repeated_record(self, rows: Sequence[tuple[int, int, int, object, str]]) -> CorpusError:
        seen: dict[object, int] = {}
        for doc, source_id, line, record, _ in rows:
            held = self._connection.execute(
                "SELECT source, line FROM document WHERE record = ? AND id != ?",
                (record, doc)).fetchone()
            place = None if held is None else (self._source_path(held[0]), held[1])
            if place is None and record in seen:
                place = (self._source_path(source_id), seen[record])
            if place is not None:
                return CorpusError(
                    f"{self._source_path(source_id)}:{line}: the record id {record!r} is "
                    f"already used by {place[0]}:{place[1]}; ids must be unique (nothing was "
                    "changed)")
            seen[record] = line
        return CorpusError("a record id is used twice (nothing was changed)")

    def _source_path(self, source_id: int) -> str:
        if source_id in self._paths:
            return self._paths[source_id]
        row = self._connection.execute("SELECT path FROM source WHERE id = ?",
                                       (source_id,)).fetchone()
        return str(row[0])

    def post_stored(self, docs: Sequence[int], texts: Sequence[str]) -> list[int]:
        """Posts stored documents again (ascending numbers, from first_doc on),
        cut anew; returns the numbers of those that cut to no word (the caller
        removes them)."""
        wordless, posted, kept = [], [], []
        for doc, words in zip(docs, self._analyzer.cut_many(texts)):
            if words:
                posted.append(doc)
                kept.append(words)
            else:
                wordless.append(doc)
        self._post(posted, kept)
        self.documents += len(posted)
        self._postings.end_batch()
        self.wordless += len(wordless)
        self._next_doc = max(self._next_doc, docs[-1] + 1) if docs else self._next_doc
        if self._progress is not None:
            self._progress(len(docs), 0)
        return wordless

    def finish(self) -> None:
        """Writes what waits: postings, lengths, the words' counts and the totals."""
        self._postings.flush()
        lengths = self._postings.lengths
        write_lengths(self._connection, self.first_doc, lengths)
        words = {token: word for word, token in self._vocabulary.items()}
        self.changed_words.update(words[token] for token in self._postings.stats)
        self._connection.executemany(
            "INSERT INTO token(word, id, occurrences, postings, max_tf, min_length) "
            "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT(word) DO UPDATE SET "
            "occurrences = occurrences + excluded.occurrences, "
            "postings = postings + excluded.postings, "
            "max_tf = max(max_tf, excluded.max_tf), "
            "min_length = min(min_length, excluded.min_length)",
            [(words[token], token, *stats) for token, stats in self._postings.stats.items()])
        total = int(meta(self._connection, "length_total"))  # type: ignore[call-overload]
        set_meta(self._connection, "length_total", total + sum(lengths))
        stored_next = int(meta(self._connection, "next_doc"))  # type: ignore[call-overload]
        set_meta(self._connection, "next_doc", max(stored_next, self._next_doc))


def remove_documents(connection: sqlite3.Connection, analyzer: Analyzer,
                     docs: Iterable[int], progress: Progress | None = None,
                     changed_words: set[str] | None = None) -> int:
    """Removes the documents `docs` (ascending numbers; any that are not
    stored are passed over) with their share of the counts; returns how many
    were removed, and adds the words whose counts changed to `changed_words`.

    Their postings stay in the blocks, passed over by readers (their lengths
    become 0), until they pass an eighth of the live postings: the blocks are
    then rewritten without them. Rewriting a block of every word a removed
    document held would make a sync that replaces 1 % of a corpus cost far
    more than 1 % of indexing it."""
    removed = postings = 0
    pending = iter(docs)
    while True:
        numbers = list(islice(pending, BATCH))
        if not numbers:
            break
        rows = connection.execute(
            "SELECT id, text FROM document WHERE id IN (SELECT value FROM json_each(?)) "
            "ORDER BY id", (_json_list(numbers),)).fetchall()
        if not rows:
            continue
        counts: dict[str, list[int]] = {}  # word -> [postings, occurrences]
        length_total = 0
        for document_words in analyzer.cut_many([text for _, text in rows]):
            length_total += len(document_words)
            for word, frequency in Counter(document_words).items():
                count = counts.setdefault(word, [0, 0])
                count[0] += 1
                count[1] += frequency
        _lower_counts(connection, counts)
        if changed_words is not None:
            changed_words.update(counts)
        postings += sum(count[0] for count in counts.values())
        gone = [doc for doc, _ in rows]
        connection.execute("DELETE FROM document WHERE id IN (SELECT value FROM json_each(?))",
                           (_json_list(gone),))
        clear_lengths(connection, gone)
        total = int(meta(connection, "length_total"))  # type: ignore[call-overload]
        set_meta(connection, "length_total", total - length_total)
        removed += len(rows)
        if progress is not None:
            progress(len(rows), 0)
    if postings:
        waiting = postings + int(meta(connection,  # type: ignore[call-overload]
                                      "removed_postings"))
        live = connection.execute("SELECT coalesce(sum(postings), 0) FROM token").fetchone()[0]
        if 8 * waiting > live:
            drop_removed(connection, read_lengths(connection))
            waiting = 0
        set_meta(connection, "removed_postings", waiting)
    return removed


def _lower_counts(connection: sqlite3.Connection, counts: dict[str, list[int]]) -> None:
    """Takes removed documents' `counts[word]` (postings, occurrences) out of the words' rows."""
    rows = {word: (postings, occurrences) for word, postings, occurrences in connection.execute(
        "SELECT word, postings, occurrences FROM token WHERE word IN "
        "(SELECT value FROM json_each(?))", (json.dumps(list(counts), ensure_ascii=False),))}
    emptied, lowered = [], []
    for word, (postings, occurrences) in counts.items():
        stored = rows.get(word, (0, 0))
        if stored[0] < postings or stored[1] < occurrences:
            raise CorpusError(f"the stored text no longer cuts into the stored words (word "
                              f"{word!r}): the database is damaged; build it again")
        if stored[0] == postings:
            emptied.append((word,))
        else:
            lowered.append((postings, occurrences, word))
    connection.executemany("DELETE FROM token WHERE word = ?", emptied)
    connection.executemany("UPDATE token SET postings = postings - ?, "
                           "occurrences = occurrences - ? WHERE word = ?", lowered)


def _json_list(numbers: Sequence[int]) -> str:
    return "[" + ",".join(map(str, numbers)) + "]"


def recut_stored(connection: sqlite3.Connection, analyzer: Analyzer, shape: DocumentShape,
                 progress: Progress | None = None) -> tuple[DocumentWriter, int]:
    """Cuts every stored document again and rebuilds the postings, lengths
    and counts from scratch; documents that cut to no word are removed.
    Returns the writer (what was posted) and how many were removed."""
    for table in ("posting", "token", "length"):
        connection.execute(f"DELETE FROM {table}")
    set_meta(connection, "length_total", 0)
    set_meta(connection, "removed_postings", 0)
    first = connection.execute("SELECT coalesce(min(id), 1) FROM document").fetchone()[0]
    writer = DocumentWriter(connection, analyzer, shape, progress, first_doc=first)
    last = 0
    wordless: list[int] = []
    while True:
        rows = connection.execute("SELECT id, text FROM document WHERE id > ? ORDER BY id "
                                  "LIMIT ?", (last, BATCH)).fetchall()
        if not rows:
            break
        wordless += writer.post_stored([doc for doc, _ in rows], [text for _, text in rows])
        last = rows[-1][0]
    writer.finish()
    connection.executemany("DELETE FROM document WHERE id = ?", [(doc,) for doc in wordless])
    return writer, len(wordless)
