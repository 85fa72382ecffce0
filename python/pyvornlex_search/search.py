"""Searching a database: cut and encode the query with the stored model, then
rank the documents by inner product (see plan.py for how, exactly)."""

from __future__ import annotations

import json
import math
import threading
from types import TracebackType
from typing import NamedTuple

from _pyvornlex_files.model_file import read_model
from pyvornlex import BM25, Jieba

from .errors import DatabaseError, EmptyQueryError
from .layout import open_existing
from .plan import Ranked, Term, brute_force, top_k
from .words import Segmenter

__all__ = ["Hit", "SearchIndex"]

_TERMS = ("SELECT word, id, postings, min_weight, max_weight FROM token "
          "WHERE word IN (SELECT value FROM json_each(?))")
_DOCUMENTS = ("SELECT document.id, source.path, document.line, document.text "
              "FROM document JOIN source ON source.id = document.source "
              "WHERE document.id IN (SELECT value FROM json_each(?))")


class Hit(NamedTuple):
    """One result: the document's number, its score, text and where it came from."""

    doc: int
    score: float
    text: str
    source: str  # the corpus file, as an absolute path
    line: int  # the line number in that file


class SearchIndex:
    """An open database to search. Open it once and search many times: opening
    loads the stored model, and building the default `Jieba` takes a second or
    two (pass one to share it). Threads may share it; their searches take
    turns on its one connection."""

    def __init__(self, database: str, *, jieba: Jieba | None = None) -> None:
        self.database = database
        self._connection = open_existing(database)
        self._jieba = jieba
        self._segmenter: Segmenter | None = None  # built at the first query: counts need none
        self._data_version = -1
        self._model = BM25()
        self._lock = threading.Lock()
        try:
            self._connection.executescript("PRAGMA query_only = ON; PRAGMA cache_size = -65536;")
            self._refresh()
        except BaseException:
            self._connection.close()
            raise

    def _refresh(self) -> None:
        """Reloads the model if another connection changed the database."""
        version = self._connection.execute("PRAGMA data_version").fetchone()[0]
        if version != self._data_version:
            row = self._connection.execute("SELECT value FROM meta WHERE key = 'model'").fetchone()
            if row is None:
                raise DatabaseError(f"{self.database}: holds no model: the file is damaged")
            self._model.load(row[0])
            self._data_version = version

    def close(self) -> None:
        self._connection.close()

    def __enter__(self) -> SearchIndex:
        return self

    def __exit__(self, kind: type[BaseException] | None, value: BaseException | None,
                 traceback: TracebackType | None) -> None:
        self.close()

    def words(self, text: str) -> list[str]:
        """The words that the index stores for `text` (documents and queries alike)."""
        if self._segmenter is None:
            self._segmenter = Segmenter(self._jieba, threads=1)
        return self._segmenter.words(text)

    def query_vector(self, query: str) -> dict[str, float]:
        """The query's sparse vector under the stored model, in summation order."""
        words = self.words(query)
        if not words:
            raise EmptyQueryError(f"the query {query!r} cuts to no searchable word "
                                  "(only blanks and punctuation)")
        vector: dict[str, float] = self._model.encode_query(words)
        if not all(math.isfinite(weight) for weight in vector.values()):
            raise EmptyQueryError(f"the query {query!r} cannot be ranked: the IDFs of its "
                                  "words add up to zero, so its weights are not finite")
        return vector

    def _terms(self, vector: dict[str, float]) -> list[Term]:
        rows = {row[0]: row for row in self._connection.execute(
            _TERMS, (json.dumps(list(vector), ensure_ascii=False),))}
        terms = []
        for word, weight in vector.items():  # ascending word order: the summation order
            row = rows.get(word)
            if row is not None and row[2] > 0:
                low, high = sorted((weight * row[3], weight * row[4]))
                terms.append(Term(word, row[1], weight, row[2], low, high))
        return terms

    def _run(self, query: str, k: int, exhaustive: bool) -> list[Hit]:
        if isinstance(k, bool) or not isinstance(k, int) or k < 1:
            raise ValueError(f"k must be a positive integer, not {k!r}")
        with self._lock:
            return self._run_locked(query, k, exhaustive)

    def _run_locked(self, query: str, k: int, exhaustive: bool) -> list[Hit]:
        connection = self._connection
        connection.execute("BEGIN")  # one snapshot for the model and every posting read
        try:
            self._refresh()
            terms = self._terms(self.query_vector(query))
            ranked: Ranked = (brute_force if exhaustive else top_k)(connection, terms, k)
            found = {row[0]: row for row in connection.execute(
                _DOCUMENTS, (json.dumps([doc for _, doc in ranked]),))}
        finally:
            connection.execute("COMMIT")
        return [Hit(doc, score, found[doc][3], found[doc][1], found[doc][2])
                for score, doc in ranked]

    def search(self, query: str, k: int = 10) -> list[Hit]:
        """The k best documents for the query, best first (ties: smaller number
        first); fewer when fewer documents hold a query word."""
        return self._run(query, k, exhaustive=False)

    def brute_force(self, query: str, k: int = 10) -> list[Hit]:
        """The same ranking, computed by reading every posting of the query's words."""
        return self._run(query, k, exhaustive=True)

    def stale_documents(self) -> int:
        """Documents whose weights were encoded with another average length than
        the model's current one (after `add_documents`; `reencode` refreshes them)."""
        with self._lock:
            content = self._connection.execute(
                "SELECT value FROM meta WHERE key = 'model'").fetchone()[0]
            average = float(read_model(content).average_text)
            row = self._connection.execute(
                "SELECT coalesce(sum(last_doc - first_doc + 1), 0) FROM encoding "
                "WHERE doc_length_average != ?", (average,)).fetchone()
        return int(row[0])

    def statistics(self) -> dict[str, int]:
        """Counts of documents, distinct words and postings."""
        one = self._connection.execute
        with self._lock:
            return {"documents": one("SELECT count(*) FROM document").fetchone()[0],
                    "words": one("SELECT count(*) FROM token WHERE postings > 0").fetchone()[0],
                    "postings": one("SELECT coalesce(sum(postings), 0) FROM token").fetchone()[0]}
