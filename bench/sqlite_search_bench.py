"""Figures of pyvornlex_search on a corpus (one document per line): indexing
throughput over the whole road, query latency, database size, and how many
top-k lists equal the brute-force ranking.

    PYTHONPATH=build/python "$python" bench/sqlite_search_bench.py CORPUS
    PYTHONPATH=build/python "$python" bench/sqlite_search_bench.py CORPUS --docs 1000000

The second form measures a synthetic corpus of a million documents against
SQLite's own full-text engine (search_scale.py says how).

with "$python" the build's Python 3.10 (bash scripts/configured_python.sh build).
bash bench/run.sh runs it on the bench corpus, which `bash bench/corpus.sh DIR`
writes to DIR/corpus.txt.
Indexing is timed from reading the corpus to the database in place (cut,
train, encode, insert, compact), with the Jieba already built (its
construction is printed apart). Queries are six distinct words, drawn with a
fixed seed: "document" queries take them from the words of one random
document, "frequency" queries draw them by their frequency in the corpus
(common words, long posting lists: the hard case). Every query's top 10 is
compared with a brute-force ranking computed from document vectors encoded in
memory with the stored model, independently of the database.
"""

from __future__ import annotations

import argparse
import os
import random
import sqlite3
import statistics
import sys
import tempfile
import time
from collections import Counter
from itertools import accumulate

from pyvornlex import BM25, Jieba
from pyvornlex_data import dict_paths
from pyvornlex_search import SearchIndex, add_documents, build_index, reencode
from report import machine

import search_scale

QUERY_WORDS = 6
TOP = 10
TARGETS = {"documents/s": 20000, "p95 ms": 20.0, "bytes/posting": 30.0}


def machine_line() -> str:
    return f"{machine()}; SQLite {sqlite3.sqlite_version}"


def load_average() -> str:
    return " ".join(f"{value:.2f}" for value in os.getloadavg())


def percentile(values: list[float], fraction: float) -> float:
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def draw_queries(documents: list[list[str]], count: int, seed: int) -> dict[str, list[str]]:
    chooser = random.Random(seed)
    long_enough = [sorted(set(words)) for words in documents if len(set(words)) >= QUERY_WORDS]
    by_document = [" ".join(chooser.sample(chooser.choice(long_enough), QUERY_WORDS))
                   for _ in range(count)]
    frequency = Counter(word for words in documents for word in words)
    vocabulary, counts = zip(*sorted(frequency.items()))
    totals = list(accumulate(counts))
    by_frequency = []
    for _ in range(count):
        words: list[str] = []
        while len(words) < QUERY_WORDS:
            word = chooser.choices(vocabulary, cum_weights=totals)[0]
            if word not in words:
                words.append(word)
        by_frequency.append(" ".join(words))
    return {"document": by_document, "frequency": by_frequency}


def reference_ranking(index: SearchIndex, model: BM25, inverted: dict[str, dict[int, float]],
                      query: str) -> list[tuple[int, float]]:
    vector = model.encode_query(index.words(query))
    scores: dict[int, float] = {}
    for word in vector:  # ascending word order, as the index adds
        for doc, weight in inverted.get(word, {}).items():
            scores[doc] = scores.get(doc, 0.0) + vector[word] * weight
    return sorted(scores.items(), key=lambda item: (-item[1], item[0]))[:TOP]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("corpus")
    parser.add_argument("--rounds", type=int, default=3, help="indexing runs (median)")
    parser.add_argument("--queries", type=int, default=200, help="queries of each kind")
    parser.add_argument("--docs", type=int, default=0, metavar="N",
                        help="a synthetic corpus of N documents from the corpus's lines, "
                             "indexed by the command line and by FTS5 (search_scale.py)")
    parser.add_argument("--scratch", default=os.path.join(tempfile.gettempdir(), "search-scale"),
                        help="where --docs writes its corpus (kept for later runs) and databases")
    parser.add_argument("--seed", type=int, default=1, help="of the synthetic corpus")
    parser.add_argument("--threads", type=int, default=2, help="cutting threads of both sides")
    parser.add_argument("--keep", action="store_true", help="keep the --docs databases")
    parser.add_argument("--reuse", action="store_true",
                        help="query the databases that a --keep run left, without indexing")
    parser.add_argument("--ours-only", action="store_true",
                        help="index with pyvornlex_search alone (memory and time at scale)")
    arguments = parser.parse_args()
    if arguments.docs:
        return search_scale.run(arguments)

    print(f"Machine: {machine_line()}")
    print(f"Load average at start: {load_average()}")
    started = time.perf_counter()
    jieba = Jieba(*dict_paths())
    print(f"Jieba construction: {time.perf_counter() - started:.2f} s (not in the road)")
    # A yardstick for the machine's speed during the run: the same cut that
    # the Performance section times (0.40 s there, on a quiet machine).
    with open(arguments.corpus, encoding="utf-8", errors="replace") as handle:
        texts = handle.read().splitlines()
    cpu = time.process_time()
    for text in texts:
        jieba.cut(text)
    print(f"Yardstick: Jieba.cut of every line, one thread: {time.process_time() - cpu:.2f} s "
          "processor time")

    with tempfile.TemporaryDirectory(prefix="sqlite-search-bench-") as folder:
        database = os.path.join(folder, "corpus.db")
        walls, cpus = [], []
        for _ in range(arguments.rounds):
            if os.path.exists(database):
                os.remove(database)
            wall, cpu = time.perf_counter(), time.process_time()
            report = build_index(arguments.corpus, database, jieba=jieba)
            walls.append(time.perf_counter() - wall)
            cpus.append(time.process_time() - cpu)
        wall, cpu = statistics.median(walls), statistics.median(cpus)
        throughput = report.documents / wall
        print(f"\nCorpus: {arguments.corpus}: {report.documents} documents, {report.postings} "
              f"postings ({report.blank_lines} blank lines, {len(report.not_utf8)} not UTF-8, "
              f"{report.wordless_lines} without a searchable word skipped)")
        print(f"Indexing, whole road, median of {arguments.rounds}: {wall:.3f} s wall "
              f"(rounds {', '.join(f'{w:.3f}' for w in walls)}), {cpu:.3f} s processor time "
              f"of the process: {throughput:,.0f} documents/s")

        connection = sqlite3.connect(database)
        page_size = connection.execute("PRAGMA page_size").fetchone()[0]
        pages = connection.execute("PRAGMA page_count").fetchone()[0]
        tables = dict(connection.execute("SELECT name, sum(pgsize) FROM dbstat GROUP BY name"))
        connection.close()
        total = pages * page_size
        print(f"Database: {total:,} bytes, {total / report.postings:.1f} bytes per posting "
              "(every table and index: " + ", ".join(
                  f"{name} {size / report.postings:.1f}" for name, size in
                  sorted(tables.items(), key=lambda item: -item[1]) if size > page_size) + ")")

        with SearchIndex(database, jieba=jieba) as index:
            documents = [index.words(text) for text in
                         (row[0] for row in sqlite3.connect(database).execute(
                             "SELECT text FROM document ORDER BY id"))]
            model = BM25()
            model.load(sqlite3.connect(database).execute(
                "SELECT value FROM meta WHERE key = 'model'").fetchone()[0])
            inverted: dict[str, dict[int, float]] = {}
            for doc, words in enumerate(documents, 1):
                for word, weight in model.encode_document(words).items():
                    inverted.setdefault(word, {})[doc] = weight
            queries = draw_queries(documents, arguments.queries, seed=17)
            for warm in draw_queries(documents, 20, seed=18)["document"]:
                index.search(warm, TOP)
            results = {}
            for kind, texts in queries.items():
                latencies, brute, equal = [], [], 0
                for query in texts:
                    moment = time.perf_counter()
                    hits = index.search(query, TOP)
                    latencies.append(1000 * (time.perf_counter() - moment))
                    moment = time.perf_counter()
                    index.brute_force(query, TOP)
                    brute.append(1000 * (time.perf_counter() - moment))
                    expected = reference_ranking(index, model, inverted, query)
                    equal += [(hit.doc, hit.score) for hit in hits] == expected
                results[kind] = (latencies, equal)
                print(f"Queries ({kind}, {len(texts)} of {QUERY_WORDS} words, top {TOP}): "
                      f"p50 {percentile(latencies, 0.5):.2f} ms, p95 "
                      f"{percentile(latencies, 0.95):.2f} ms, max {max(latencies):.2f} ms; "
                      f"brute force in the database p50 {percentile(brute, 0.5):.2f} ms, "
                      f"p95 {percentile(brute, 0.95):.2f} ms; "
                      f"top {TOP} equal to the reference: {equal}/{len(texts)}")

        tenth = os.path.join(folder, "tenth.txt")
        with open(arguments.corpus, encoding="utf-8", errors="replace") as source, \
                open(tenth, "w", encoding="utf-8") as target:
            lines = source.read().splitlines()
            target.write("\n".join(lines[:len(lines) // 10]) + "\n")
        moment = time.perf_counter()
        added = add_documents(tenth, database, jieba=jieba)
        adding = time.perf_counter() - moment
        moment = time.perf_counter()
        again = reencode(database, jieba=jieba)
        print(f"Adding the first tenth again ({added.documents} documents, one transaction): "
              f"{adding:.2f} s; re-encoding all {again.documents} documents: "
              f"{time.perf_counter() - moment:.2f} s")

    print(f"Load average at end: {load_average()}")
    p95 = percentile(results["document"][0], 0.95)
    met = {"documents/s": throughput >= TARGETS["documents/s"],
           "p95 ms": p95 <= TARGETS["p95 ms"],
           "bytes/posting": total / report.postings <= TARGETS["bytes/posting"],
           "equal": all(equal == len(queries[kind]) for kind, (_, equal) in results.items())}
    print("Targets: " + ", ".join(f"{name} {'met' if ok else 'MISSED'}" for name, ok in met.items()))
    return 0 if all(met.values()) else 1


if __name__ == "__main__":
    sys.exit(main())
