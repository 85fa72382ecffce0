"""pyvornlex_search at scale against SQLite's own full-text engine (FTS5), in
one run on one machine: `sqlite_search_bench.py CORPUS --docs N`.

The corpus: N documents, each 1 to 3 lines of CORPUS drawn at random with a
fixed seed and joined by a space, one document a line. Each round indexes it
twice, in fresh processes and in turns (the side that goes first alternates):
`python -m pyvornlex_search index` as a user runs it, and fts5_side.py, which
cuts with the same analyzer on the same threads and gives FTS5 the words.
Times are wall clock from the process's start to its end (Jieba's
construction included on both sides); peak memory is the kernel's high-water
mark of the process's resident memory. Queries run against both databases,
each side in a process of its own, one side then the other for each query
(the side that goes first alternates): six distinct words
of a random document ("document"), and six distinct words drawn by their
frequency ("frequency": the long lists); top 10 with the text of each
result. Every top 10 of pyvornlex_search is compared with its brute-force
ranking, which reads every posting of the query's words, after the timed
queries."""

from __future__ import annotations

import json
import os
import random
import sqlite3
import statistics
import subprocess
import sys
import time
from collections import Counter
from itertools import accumulate

from pyvornlex_search import SearchIndex

from fts5_side import QUERY, match_expression

QUERY_WORDS = 6
TOP = 10
SAMPLE = 20000  # documents whose words the queries are drawn from
HERE = os.path.dirname(os.path.abspath(__file__))
TARGETS = {"peak GiB": 1.5, "speed ratio": 1.0, "size ratio": 1.0, "document p95 ms": 15.0,
           "document p95 ratio": 0.25, "frequency p95 ms": 40.0, "frequency p95 ratio": 0.5}


def percentile(values: list[float], fraction: float) -> float:
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def write_corpus(lines_path: str, target: str, count: int, seed: int) -> None:
    with open(lines_path, encoding="utf-8", errors="replace") as handle:
        lines = [line for line in handle.read().split("\n") if line.strip()]
    chooser = random.Random(seed)
    choice, randint = chooser.choice, chooser.randint
    with open(target + ".tmp", "w", encoding="utf-8") as out:
        for start in range(0, count, 100000):
            out.write("".join(" ".join(choice(lines) for _ in range(randint(1, 3))) + "\n"
                              for _ in range(min(100000, count - start))))
    os.replace(target + ".tmp", target)


def run_measured(command: list[str]) -> tuple[float, int, str]:
    """Wall seconds, peak resident bytes and standard output of a process."""
    started = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
    output = process.stdout.read()  # type: ignore[union-attr]
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - started
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode:
        raise RuntimeError(f"{' '.join(command)} failed with {process.returncode}")
    return wall, usage.ru_maxrss * 1024, output


def ours_command(corpus: str, database: str, threads: int) -> list[str]:
    return [sys.executable, "-m", "pyvornlex_search", "index", corpus, database, "--quiet",
            "--threads", str(threads)]


def theirs_command(corpus: str, database: str, threads: int) -> list[str]:
    return [sys.executable, os.path.join(HERE, "fts5_side.py"), corpus, database,
            "--threads", str(threads)]


def remove(database: str) -> None:
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(database + suffix):
            os.remove(database + suffix)


def file_size(database: str) -> int:
    return sum(os.path.getsize(database + suffix) for suffix in ("", "-wal")
               if os.path.exists(database + suffix))


def draw_queries(documents: list[list[str]], count: int,
                 seed: int) -> dict[str, list[list[str]]]:
    chooser = random.Random(seed)
    long_enough = [sorted(set(words)) for words in documents if len(set(words)) >= QUERY_WORDS]
    by_document = [chooser.sample(chooser.choice(long_enough), QUERY_WORDS) for _ in range(count)]
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
        by_frequency.append(words)
    return {"document": by_document, "frequency": by_frequency}


def fts5_counts(database: str) -> tuple[int, int]:
    """Distinct terms and postings of the FTS5 index."""
    connection = sqlite3.connect(database)
    try:
        connection.execute("CREATE VIRTUAL TABLE temp.vocabulary USING fts5vocab(main, fts, row)")
        return connection.execute("SELECT count(*), sum(doc) FROM temp.vocabulary").fetchone()
    finally:
        connection.close()


class _Theirs:
    """FTS5 answering in a process of its own, as each engine would in a
    server: sharing this process's heap and caches would make each side pay
    for the other's memory."""

    def __init__(self, database: str) -> None:
        self._process = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "fts5_side.py"), "--answer", database, str(TOP)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def query(self, words: list[str]) -> float:
        """The query's milliseconds, timed where it ran."""
        assert self._process.stdin is not None and self._process.stdout is not None
        self._process.stdin.write(json.dumps(words, ensure_ascii=False) + "\n")
        self._process.stdin.flush()
        return float(self._process.stdout.readline())

    def close(self) -> None:
        assert self._process.stdin is not None
        self._process.stdin.close()
        self._process.wait()


def query_rounds(ours_db: str, theirs_db: str, count: int, documents: int) -> dict:  # type: ignore[type-arg]
    results = {}
    theirs_side = _Theirs(theirs_db)
    with SearchIndex(ours_db) as index:
        chooser = random.Random(23)
        sample = chooser.sample(range(1, documents + 1), min(SAMPLE, documents))
        texts = [row[0] for row in index._connection.execute(
            "SELECT text FROM document WHERE id IN (SELECT value FROM json_each(?))",
            (str(sample),))]
        cut = [index.words(text) for text in texts]
        queries = draw_queries(cut, count, seed=17)
        for warm in draw_queries(cut, 20, seed=18)["document"]:
            index.search(" ".join(warm), TOP)
            theirs_side.query(warm)
        for kind, drawn in queries.items():
            ours, theirs, found = [], [], []
            for number, words in enumerate(drawn):
                text = " ".join(words)
                if number % 2:
                    theirs.append(theirs_side.query(words))
                moment = time.perf_counter()
                found.append(index.search(text, TOP))
                ours.append(1000 * (time.perf_counter() - moment))
                if not number % 2:
                    theirs.append(theirs_side.query(words))
            # The brute force after the timed queries: its lists of every
            # posting would otherwise leave the next query a heap to refill.
            brute, equal = [], 0
            for words, hits in zip(drawn, found):
                moment = time.perf_counter()
                expected = index.brute_force(" ".join(words), TOP)
                brute.append(1000 * (time.perf_counter() - moment))
                equal += hits == expected
            results[kind] = {"ours": ours, "theirs": theirs, "brute": brute, "equal": equal,
                             "count": len(drawn)}
    theirs_side.close()
    return results


def run(arguments) -> int:  # type: ignore[no-untyped-def]
    folder = arguments.scratch
    os.makedirs(folder, exist_ok=True)
    corpus = os.path.join(folder, f"synthetic-{arguments.docs}.txt")
    if not os.path.exists(corpus):
        moment = time.perf_counter()
        write_corpus(arguments.corpus, corpus, arguments.docs, arguments.seed)
        print(f"Corpus written: {corpus} ({os.path.getsize(corpus):,} bytes) in "
              f"{time.perf_counter() - moment:.0f} s")
    ours_db, theirs_db = os.path.join(folder, "ours.db"), os.path.join(folder, "fts5.db")
    sides = {"ours": (ours_command, ours_db), "theirs": (theirs_command, theirs_db)}
    samples: dict[str, list[tuple[float, int]]] = {"ours": [], "theirs": []}
    rounds = 0 if arguments.reuse and os.path.exists(ours_db) and os.path.exists(theirs_db) \
        else arguments.rounds
    for number in range(rounds):
        order = ["ours", "theirs"] if number % 2 == 0 else ["theirs", "ours"]
        if arguments.ours_only:
            order = ["ours"]
        for side in order:
            command, database = sides[side]
            remove(database)
            wall, peak, _ = run_measured(command(corpus, database, arguments.threads))
            samples[side].append((wall, peak))
            print(f"round {number + 1} {side}: {wall:.1f} s, peak {peak / 2**20:,.0f} MiB "
                  f"(load {' '.join(f'{value:.2f}' for value in os.getloadavg())})", flush=True)
    with SearchIndex(ours_db) as index:
        stats = index.statistics()
    documents, postings = stats["documents"], stats["postings"]
    ours_size = file_size(ours_db)
    print(f"\n{documents:,} documents, {postings:,} postings, {stats['words']:,} words "
          f"(pyvornlex_search)")
    table = [("documents", f"{documents:,}", "")]
    walls = {side: [wall for wall, _ in pairs] for side, pairs in samples.items() if pairs}
    peaks = {side: max(peak for _, peak in pairs) for side, pairs in samples.items() if pairs}
    met = {}
    if rounds:  # none when --reuse queries the databases of an earlier run
        table.append(("index wall s (median; range)",
                      *(f"{statistics.median(walls[side]):.1f} ({min(walls[side]):.1f}-"
                        f"{max(walls[side]):.1f})" if side in walls else "-"
                        for side in ("ours", "theirs"))))
        table.append(("documents/s", *(f"{documents / statistics.median(walls[side]):,.0f}"
                                       if side in walls else "-" for side in ("ours", "theirs"))))
        table.append(("peak memory MiB", *(f"{peaks[side] / 2**20:,.0f}" if side in peaks
                                           else "-" for side in ("ours", "theirs"))))
        met["peak GiB"] = peaks["ours"] <= TARGETS["peak GiB"] * 2**30
    if not arguments.ours_only:
        terms, fts_postings = fts5_counts(theirs_db)
        theirs_size = file_size(theirs_db)
        print(f"FTS5: {terms:,} terms, {fts_postings:,} postings (each word one token: the "
              f"postings equal when no two words differ only in case)")
        table.append(("database bytes", f"{ours_size:,}", f"{theirs_size:,}"))
        table.append(("bytes per posting", f"{ours_size / postings:.1f}",
                      f"{theirs_size / postings:.1f}"))
        met["size ratio"] = ours_size / theirs_size <= TARGETS["size ratio"]
        if rounds:
            speed = statistics.median(walls["theirs"]) / statistics.median(walls["ours"])
            met["speed ratio"] = speed >= TARGETS["speed ratio"]
            table.append(("ratios: speed (FTS5 time / ours), size (ours / FTS5)",
                          f"{speed:.2f}", f"{ours_size / theirs_size:.2f}"))
        else:
            table.append(("ratio: size (ours / FTS5)", "", f"{ours_size / theirs_size:.2f}"))
        if arguments.queries:
            results = query_rounds(ours_db, theirs_db, arguments.queries, documents)
            for kind, result in results.items():
                ours, theirs = result["ours"], result["theirs"]
                table.append((f"{kind} queries p50 / p95 ms",
                              f"{percentile(ours, .5):.2f} / {percentile(ours, .95):.2f}",
                              f"{percentile(theirs, .5):.2f} / {percentile(theirs, .95):.2f}"))
                ratio = percentile(ours, .95) / percentile(theirs, .95)
                table.append((f"{kind} p95 ratio (ours / FTS5); brute force p95 ms",
                              f"{ratio:.3f}", f"{percentile(result['brute'], .95):.1f}"))
                table.append((f"{kind} top {TOP} equal to brute force",
                              f"{result['equal']}/{result['count']}", ""))
                met[f"{kind} p95 ms"] = percentile(ours, .95) <= TARGETS[f"{kind} p95 ms"]
                met[f"{kind} p95 ratio"] = ratio <= TARGETS[f"{kind} p95 ratio"]
                met[f"{kind} equal"] = result["equal"] == result["count"]
    else:
        table.append(("database bytes", f"{ours_size:,}", "-"))
    print("\n| what | pyvornlex_search | FTS5 |\n|---|---|---|")
    for row in table:
        print("| " + " | ".join(row) + " |")
    print(f"\nLoad average at end: {' '.join(f'{value:.2f}' for value in os.getloadavg())}")
    print("Targets: " + ", ".join(f"{name} {'met' if ok else 'MISSED'}" for name, ok in met.items()))
    if not arguments.keep:
        remove(ours_db)
        remove(theirs_db)
    return 0 if all(met.values()) else 1
