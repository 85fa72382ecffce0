"""Searching a database: cut the query with the stored analysis, encode it
with the stored model, then rank the documents by inner product (see plan.py
for how, exactly).

The inner product of a query's vector with a document's is the document's
BM25 score divided by the sum of the query words' IDFs. With this model's IDF
(occurrences, not document counts) very common words have negative IDFs,
and the sum can be zero or negative; dividing by it would turn the ranking
upside down (or make every weight infinite). Then the query's weights are
divided by the sum's absolute value instead, or, for a sum of exactly zero,
by the IDF of a word never seen: the ranking is by the BM25 score itself."""

from __future__ import annotations

import json
import math
import threading
from types import TracebackType
from typing import Any, Hashable, NamedTuple, Sequence

from _pyvornlex_files.model_file import read_scalars
from pyvornlex import BM25, Jieba

from . import _ranking
from .analysis import Analyzer
from .errors import EmptyQueryError
from .layout import meta, open_existing
from .plan import Ranked, Term, brute_force, top_k
from .settings import stored_analysis, stored_analyzer
from .store import read_lengths
from .upgrade import upgrade_if_needed
from .weights import Weigher

__all__ = ["Hit", "SearchIndex"]

_TERMS = ("SELECT word, id, postings, max_tf, min_length, occurrences FROM token "
          "WHERE word IN (SELECT value FROM json_each(?))")
_DOCUMENTS = ("SELECT document.id, source.path, document.line, document.text, document.record "
              "FROM document JOIN source ON source.id = document.source "
              "WHERE document.id IN (SELECT value FROM json_each(?))")
_PLACES = ("SELECT document.id, source.path, document.line FROM document JOIN source ON "
           "source.id = document.source WHERE document.id IN (SELECT value FROM json_each(?))")
# A token that no analysis gives (words made only of control characters are
# dropped), so no model holds it: its IDF is that of a word never seen.
_UNSEEN = "\x00"


class Hit(NamedTuple):
    """One result: the document's number, its score, text and where it came from."""

    doc: int
    score: float
    text: str
    source: str  # the corpus file, as an absolute path
    line: int  # the line the document starts at in that file (1 for a whole file)
    id: str | int | None = None  # a JSON Lines record's own id


class SearchIndex:
    """An open database to search. Open it once and search many times:
    opening loads the stored model, and the analyzer (its Jieba takes a
    second or so to build) is built at the first query, with the database's
    own analysis; pass an `analyzer` (or a `jieba` built from the analysis's
    dictionaries) to share one. Threads may share an index; their searches
    take turns on its one connection."""

    def __init__(self, database: str, *, analyzer: Analyzer | None = None,
                 jieba: Jieba | None = None) -> None:
        self.database = database
        upgrade_if_needed(database, jieba=jieba)
        self._connection = open_existing(database)
        self._given = (analyzer, jieba)
        self._analyzer: Analyzer | None = None  # built at the first query: counts need none
        self._data_version = -1
        self._model = BM25()
        self._weigher: Weigher | None = None
        self._doc_count = 0
        self._lock = threading.Lock()
        self._ranker = _ranking.Ranker()  # its buffers serve every query, under the lock
        self._analyzer_lock = threading.Lock()
        try:
            self._connection.executescript("PRAGMA query_only = ON; PRAGMA cache_size = -65536;")
            self.analysis = stored_analysis(self._connection)[0]
            self._refresh()
        except BaseException:
            self._connection.close()
            raise

    def _refresh(self) -> None:
        """Reloads the model and lengths if another connection changed the database."""
        version = self._connection.execute("PRAGMA data_version").fetchone()[0]
        if version != self._data_version:
            content = meta(self._connection, "model")
            self._model.load(content)  # type: ignore[arg-type]  # load takes the file's bytes too
            self._doc_count = self._connection.execute(
                "SELECT count(*) FROM document").fetchone()[0]
            lengths = read_lengths(self._connection)
            removed = int(meta(self._connection, "removed_postings"))  # type: ignore[call-overload]
            if self._doc_count:
                self._weigher = Weigher(self._model.b(), self._model.k1(),
                                        self._average(content), lengths, removed > 0)
            self._data_version = version

    @staticmethod
    def _average(content: object) -> float:
        """The average length as the model holds it: the file's six decimals."""
        return read_scalars(bytes(content)).average  # type: ignore[call-overload]

    def close(self) -> None:
        self._connection.close()

    def __enter__(self) -> SearchIndex:
        return self

    def __exit__(self, kind: type[BaseException] | None, value: BaseException | None,
                 traceback: TracebackType | None) -> None:
        self.close()

    @property
    def analyzer(self) -> Analyzer:
        """The database's analyzer (built on first use, its files checked)."""
        with self._analyzer_lock:
            if self._analyzer is None:
                analyzer, jieba = self._given
                self._analyzer = stored_analyzer(self.database, analyzer, jieba, threads=1)
            return self._analyzer

    def words(self, text: str) -> list[str]:
        """The words that the index stores for `text` (documents and queries alike)."""
        return self.analyzer.words(text)

    def query_vector(self, query: str) -> dict[str, float]:
        """The query's sparse vector under the stored model, in summation order:
        its words' IDFs over their sum, or over the sum's absolute value (or
        an unseen word's IDF) when the sum is not positive."""
        with self._lock:
            self._refresh()
            return self._vector(self.words(query), query)[0]

    def _vector(self, words: list[str],
                query: str) -> tuple[dict[str, float], dict[str, tuple[Any, ...]]]:
        if not words:
            raise EmptyQueryError(f"the query {query!r} cuts to no searchable word "
                                  "(only blanks, punctuation or stop words)")
        rows = {row[0]: row for row in self._connection.execute(
            _TERMS, (json.dumps(sorted(set(words)), ensure_ascii=False),))}
        if not self._doc_count:
            return {}, rows
        vector: dict[str, float] = self._model.encode_query(words)
        word, weight = next(iter(vector.items()))
        if not all(map(math.isfinite, vector.values())):
            # The IDFs add up to exactly zero: an unseen word's IDF is positive.
            scaled = self._model.encode_query(words + [_UNSEEN])
            del scaled[_UNSEEN]
            return scaled, rows
        occurrences = rows[word][5] if word in rows else 0
        idf_positive = occurrences <= self._doc_count  # ln((N + 1) / (f + 0.5)) > 0
        if idf_positive != (weight > 0):  # the IDFs add up to less than zero
            vector = {word: -weight for word, weight in vector.items()}
        return vector, rows

    def _terms(self, vector: dict[str, float], rows: dict[str, tuple[Any, ...]]) -> list[Term]:
        assert self._weigher is not None
        terms = []
        for word, weight in vector.items():  # ascending word order: the summation order
            row = rows.get(word)
            if row is not None and row[2] > 0:
                high = weight * self._weigher.bound(row[3], row[4])
                terms.append(Term(word, row[1], weight, row[2], min(0.0, high), max(0.0, high)))
        return terms

    def _order(self, docs: Sequence[int]) -> dict[int, Hashable]:
        """The corpus order of documents: their file's path, then their line."""
        return {doc: (path, line) for doc, path, line in self._connection.execute(
            _PLACES, (json.dumps(list(docs)),))}

    def _run(self, query: str, k: int, exhaustive: bool) -> list[Hit]:
        if isinstance(k, bool) or not isinstance(k, int) or k < 1:
            raise ValueError(f"k must be a positive integer, not {k!r}")
        words = self.words(query)
        with self._lock:
            return self._run_locked(query, words, k, exhaustive)

    def _run_locked(self, query: str, words: list[str], k: int,
                    exhaustive: bool) -> list[Hit]:
        connection = self._connection
        connection.execute("BEGIN")  # one snapshot for the model and every posting read
        try:
            self._refresh()
            vector, rows = self._vector(words, query)
            if not vector:
                return []
            assert self._weigher is not None
            terms = self._terms(vector, rows)
            ranked: Ranked = (brute_force(connection, terms, k, self._weigher, self._order)
                              if exhaustive else top_k(connection, terms, k, self._weigher,
                                                       self._order, self._ranker))
            found = {row[0]: row for row in connection.execute(
                _DOCUMENTS, (json.dumps([doc for _, doc in ranked]),))}
        finally:
            connection.execute("COMMIT")
        return [Hit(doc, score, found[doc][3], found[doc][1], found[doc][2], found[doc][4])
                for score, doc in ranked]

    def search(self, query: str, k: int = 10) -> list[Hit]:
        """The k best documents for the query, best first (ties: the document
        that comes first in the corpus); fewer when fewer documents hold a
        query word."""
        return self._run(query, k, exhaustive=False)

    def brute_force(self, query: str, k: int = 10) -> list[Hit]:
        """The same ranking, computed by reading every posting of the query's words."""
        return self._run(query, k, exhaustive=True)

    def stale_documents(self) -> int:
        """Documents whose weights are those of an old average length: none,
        since weights are computed when a query reads them (kept for callers
        of earlier versions, which stored weights)."""
        return 0

    def statistics(self) -> dict[str, int]:
        """Counts of documents, distinct words, postings and files."""
        one = self._connection.execute
        with self._lock:
            return {"documents": one("SELECT count(*) FROM document").fetchone()[0],
                    "words": one("SELECT count(*) FROM token WHERE postings > 0").fetchone()[0],
                    "postings": one("SELECT coalesce(sum(postings), 0) FROM token").fetchone()[0],
                    "files": one("SELECT count(*) FROM source").fetchone()[0]}

    def info(self) -> dict[str, object]:
        """What `info` prints: the counts, the analysis and the document shape."""
        with self._lock:
            shape = json.loads(str(meta(self._connection, "documents")))
        return {"database": self.database, **self.statistics(),
                "analysis": json.loads(self.analysis.to_json()), "documents_are": shape}
