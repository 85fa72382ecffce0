"""Helpers of the pyvornlex_search tests: one shared Jieba, scratch folders,
what a database holds, and the ranking a user would compute by hand from the
stored model alone."""

import os
import sqlite3
import tempfile
import unittest
from contextlib import closing

from pyvornlex import BM25, Jieba
from pyvornlex_data import dict_paths
from pyvornlex_search import Analysis, Analyzer, build_index

_JIEBA = None


def jieba():
    global _JIEBA
    if _JIEBA is None:
        _JIEBA = Jieba(*dict_paths())
    return _JIEBA


_ANALYZERS = {}


def analyzer(analysis=None):
    """One analyzer per analysis for the whole run (each builds its Jieba)."""
    analysis = analysis if analysis is not None else Analysis()
    if analysis not in _ANALYZERS:
        _ANALYZERS[analysis] = Analyzer(analysis)
    return _ANALYZERS[analysis]


def write_lines(path, lines, encoding="utf-8"):
    with open(path, "w", encoding=encoding, newline="") as handle:
        handle.write("\n".join(lines) + "\n")


def stored_model(database):
    with closing(sqlite3.connect(database)) as connection:
        content = connection.execute("SELECT value FROM meta WHERE key = 'model'").fetchone()[0]
    model = BM25()
    model.load(content)
    return model, content


def table_contents(database):
    """Every row of every table, and the layout version: what 'the database
    as it was' means."""
    with closing(sqlite3.connect(database)) as connection:
        names = [row[0] for row in connection.execute(
            "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name")]
        contents = {name: sorted(connection.execute(f"SELECT * FROM {name}").fetchall(), key=repr)
                    for name in names}
        contents["user_version"] = connection.execute("PRAGMA user_version").fetchone()[0]
    return contents


def documents(database):
    """(path, line, record id, text) of every stored document, in corpus order."""
    with closing(sqlite3.connect(database)) as connection:
        return sorted(connection.execute(
            "SELECT source.path, document.line, document.record, document.text FROM document "
            "JOIN source ON source.id = document.source"))


def reference(index, database, query, k):
    """The ranking as a user would compute it by hand: the stored model
    encodes every stored document, the index's query vector weighs the
    query; a document's score is sum(query weight * document.get(word, 0.0))
    over the query's dict; ties go to the document first in the corpus.
    Returns (path, line, score) triples."""
    model, _ = stored_model(database)
    with closing(sqlite3.connect(database)) as connection:
        rows = connection.execute("SELECT source.path, document.line, document.text FROM document "
                                  "JOIN source ON source.id = document.source").fetchall()
    vector = index.query_vector(query)
    scored = []
    for path, line, text in rows:
        document = model.encode_document(index.words(text))
        if document.keys() & vector.keys():
            scored.append((path, line, sum(weight * document.get(word, 0.0)
                                           for word, weight in vector.items())))
    return sorted(scored, key=lambda triple: (-triple[2], triple[0], triple[1]))[:k]


def places(hits):
    return [(hit.source, hit.line, hit.score) for hit in hits]


class Scratch(unittest.TestCase):
    """A test with a scratch folder of its own."""

    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory(prefix="search-")
        self.folder = self.scratch.name
        self.addCleanup(self.scratch.cleanup)

    def path(self, *names):
        return os.path.join(self.folder, *names)

    def corpus(self, lines, name="corpus.txt"):
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write_lines(path, lines)
        return path

    def build(self, lines, name="corpus.db", **options):
        database = self.path(name)
        options.setdefault("analyzer", analyzer())
        build_index(self.corpus(lines), database, **options)
        return database
