"""SQLite's own full-text engine on the same words, the yardstick of the
search bench: indexes a corpus (one document a line) into a new database,
the way pyvornlex_search's `index` does but with FTS5 doing the indexing.

    fts5_side.py CORPUS DATABASE [--threads N]

Each document's text is cut by the same analyzer on the same threads (the
next batch is cut while this one is stored, as `index` does), and FTS5 is
given the words joined by spaces. Its tokenizer splits at spaces only, so
each word is one FTS5 token (unicode61 still folds case). The text itself is
stored once, in a table of its own beside a contentless FTS5 index that
keeps positions (detail=full), so both databases hold the same text and an
index. Prints the documents indexed.

    fts5_side.py --answer DATABASE

answers queries in a process of its own, as a search server would: a line
of JSON (the query's words) in, the milliseconds of the query out."""

from __future__ import annotations

import argparse
import json
import os
import sys
import time
import sqlite3
from collections import deque
from concurrent.futures import ThreadPoolExecutor
from itertools import islice

from pyvornlex_search import Analysis, Analyzer
from pyvornlex_search.corpus import DocumentShape, FileReading, corpus_files

BATCH = 4096  # as pyvornlex_search's writer
# Every category but separators (Z*) and controls (Cc) keeps a character in a token.
TOKENIZE = "unicode61 remove_diacritics 0 categories 'L* M* N* P* S* Co Cf Cn Cs'"
SCHEMA = f"""
CREATE TABLE document(id INTEGER PRIMARY KEY, text TEXT NOT NULL);
CREATE VIRTUAL TABLE fts USING fts5(words, content='', detail=full, tokenize="{TOKENIZE}");
"""
QUERY = ("SELECT document.id, document.text, found.score FROM (SELECT rowid, bm25(fts) AS score "
         "FROM fts WHERE fts MATCH ? ORDER BY score LIMIT ?) AS found "
         "JOIN document ON document.id = found.rowid ORDER BY found.score")


def match_expression(words: list[str]) -> str:
    """Any of the words: each quoted, so that none is read as an operator."""
    return " OR ".join('"' + word.replace('"', '""') + '"' for word in words)


def default_analysis() -> Analysis:
    """What `python -m pyvornlex_search index` uses without options."""
    return Analysis(fold=True, user_dictionaries=(), stop_words="standard")


def build(corpus: str, database: str, threads: int | None) -> int:
    analyzer = Analyzer(default_analysis(), threads=threads)
    connection = sqlite3.connect(database, isolation_level=None)
    connection.executescript("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;"
                             "PRAGMA cache_size = -65536; BEGIN;" + SCHEMA)
    next_doc = 1

    def store(texts: list[str], words: list[list[str]]) -> None:
        nonlocal next_doc
        kept = [(text, cut) for text, cut in zip(texts, words) if cut]
        numbers = range(next_doc, next_doc + len(kept))
        connection.executemany("INSERT INTO document(id, text) VALUES (?, ?)",
                               zip(numbers, (text for text, _ in kept)))
        connection.executemany("INSERT INTO fts(rowid, words) VALUES (?, ?)",
                               zip(numbers, (" ".join(cut) for _, cut in kept)))
        next_doc += len(kept)

    with ThreadPoolExecutor(1) as cutter:
        pending: deque = deque()  # type: ignore[type-arg]
        for source in corpus_files(corpus):
            documents = FileReading(source, DocumentShape()).documents()
            while True:
                texts = [document.text for document in islice(documents, BATCH)]
                if not texts:
                    break
                pending.append((texts, cutter.submit(analyzer.cut_many, texts)))
                if len(pending) > 1:
                    texts, cut = pending.popleft()
                    store(texts, cut.result())
        while pending:
            texts, cut = pending.popleft()
            store(texts, cut.result())
    connection.execute("COMMIT")
    connection.close()
    with open(database, "rb+") as handle:
        os.fsync(handle.fileno())
    return next_doc - 1


def answer(database: str, top: int) -> None:
    connection = sqlite3.connect(database)
    connection.execute("PRAGMA cache_size = -65536")
    for line in sys.stdin:
        words = json.loads(line)
        moment = time.perf_counter()
        connection.execute(QUERY, (match_expression(words), top)).fetchall()
        print(f"{1000 * (time.perf_counter() - moment):.6f}", flush=True)
    connection.close()


def main() -> None:
    if sys.argv[1:2] == ["--answer"]:
        answer(sys.argv[2], int(sys.argv[3]))
        return
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("corpus")
    parser.add_argument("database")
    parser.add_argument("--threads", type=int, default=None)
    arguments = parser.parse_args()
    print(build(arguments.corpus, arguments.database, arguments.threads))


if __name__ == "__main__":
    main()
