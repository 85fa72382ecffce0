"""Figures of pyvornlex_search.analysis on a corpus (one document per line):
building an analyzer, and cutting lines with `Analyzer.cut_many` with and
without folding and stop words, beside the bare `Jieba.cut` of every line.

    PYTHONPATH=build/python python3.10 bench/analysis_bench.py CORPUS [--lines N]

The bench corpus comes from `bash bench/corpus.sh DIR` (DIR/corpus.txt).
Each analyzer is built in the benchmark's process as a user's program builds
it (wall clock, once). The cuts of the first N lines (`cut_many` on one
thread and on two, `words` line by line, and the bare cut) run in turn,
round after round, and each prints its median wall clock and processor time
(which a machine busy with other work disturbs less). The sparse vectors of
those lines (`document_vectors`) are timed last.
"""

from __future__ import annotations

import argparse
import os
import statistics
import time
from functools import partial
from typing import Callable

from pyvornlex import BM25, Jieba
from pyvornlex_data import dict_paths
from pyvornlex_search.analysis import Analysis, Analyzer
from pyvornlex_search.vectors import document_vectors
from report import machine

ANALYSES = {
    "no folding, no stop words (as before)": Analysis.legacy(),
    "folding only": Analysis(stop_words=None),
    "stop words only": Analysis(fold=False),
    "folding and stop words (default)": Analysis(),
}


def median_seconds(run: Callable[[], object], rounds: int) -> float:
    times = []
    for _ in range(rounds):
        started = time.perf_counter()
        run()
        times.append(time.perf_counter() - started)
    return statistics.median(times)


def load_average() -> str:
    return " ".join(f"{value:.2f}" for value in os.getloadavg())


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("corpus")
    parser.add_argument("--lines", type=int, default=5000, help="lines cut (from the start)")
    parser.add_argument("--rounds", type=int, default=5, help="runs of each cut (median)")
    arguments = parser.parse_args()
    with open(arguments.corpus, encoding="utf-8") as handle:
        lines = handle.read().splitlines()[:arguments.lines]
    print(f"Machine: {machine()}")
    print(f"Load average at start: {load_average()}")
    print(f"Corpus: {arguments.corpus}: {len(lines)} lines, "
          f"{sum(map(len, lines)):,} characters")

    started = time.perf_counter()
    jieba = Jieba(*dict_paths())
    print(f"Jieba(*dict_paths()): {time.perf_counter() - started:.2f} s")

    analyzers = {}
    for name, analysis in ANALYSES.items():
        started = time.perf_counter()
        analyzers[name] = Analyzer(analysis)
        print(f"Analyzer, {name}: built in {time.perf_counter() - started:.2f} s")

    # Round robin, so that a change of the machine's load falls on every case alike.
    cases: dict[str, Callable[[], object]] = {
        "Jieba.cut of each line (yardstick)": lambda: [jieba.cut(line) for line in lines]}
    for name, analyzer in analyzers.items():
        for threads in (1, 2):
            sharing = Analyzer(analyzer.analysis, jieba=analyzer.jieba, threads=threads)
            cases[f"{name}, cut_many, {threads} thread(s)"] = partial(sharing.cut_many, lines)
        cases[f"{name}, words() of each line"] = partial(
            lambda words: [words(line) for line in lines], analyzer.words)
    times: dict[str, list[tuple[float, float]]] = {name: [] for name in cases}
    for _ in range(arguments.rounds):
        for name, run in cases.items():
            started, cpu = time.perf_counter(), time.process_time()
            run()
            times[name].append((time.perf_counter() - started, time.process_time() - cpu))
    print(f"\n{len(lines)} lines, median of {arguments.rounds} rounds, wall clock "
          "(and processor time of all threads):")
    for name, pairs in times.items():
        wall = statistics.median(wall for wall, _ in pairs)
        cpu = statistics.median(cpu for _, cpu in pairs)
        print(f"  {name}: {wall * 1000:.0f} ms, {len(lines) / wall:,.0f} lines/s "
              f"({cpu * 1000:.0f} ms)")

    analyzer = analyzers["folding and stop words (default)"]
    model = BM25()
    for words in analyzer.cut_many(lines):
        if words:
            model.train(words)
    seconds = median_seconds(lambda: document_vectors(model, analyzer, lines), arguments.rounds)
    print(f"\ndocument_vectors of {len(lines)} lines (cut, encode, token ids): "
          f"{seconds * 1000:.0f} ms ({len(lines) / seconds:,.0f}/s)")
    print(f"Load average at end: {load_average()}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
