"""What `sync` costs when a few files of a folder changed, against a full
`index` of the folder: `sync_bench.py CORPUS [--docs N]`.

The folder: the corpus's lines (or, with --docs, N synthetic documents drawn
from them as sqlite_search_bench.py draws them) split into files of
--lines-per-file lines. Each round, in fresh processes as a user runs them
(wall clock from start to exit, Jieba's construction included):
`python -m pyvornlex_search index FOLDER DB`; `sync` with nothing changed
(start-up and the walk of the folder); `sync` after --changed of the files
had one line edited; `sync` after as many other files were rewritten with
other lines of the corpus. For reference, the time a process takes to build
the analyzer (its Jieba), which a sync that finds something to cut needs and a
sync of nothing does not. The part of a sync that grows with the change is
its time beyond the sync of nothing and that analyzer; the ratios divide by
the full index.

A removal leaves postings in the blocks until they pass an eighth of the
live ones; the sync that finds them so rewrites those blocks. So the round
goes on rewriting --changed of the files and syncing until a sync has done
that, and reports that sync and the mean of every sync since the index: the
cost of a 1 % change over a whole cycle.

Last, the part that grows with the change measured apart from the noise of
process start-up and Jieba's construction: a script that has its analyzer
(as a server or a scheduled job keeps one) times the `sync()` call alone,
after 1 % of the files had a line edited, then after as many were rewritten
(its "beyond" is its whole time, the walk included)."""

from __future__ import annotations

import argparse
import os
import random
import shutil
import sqlite3
import statistics
import sys
import tempfile
from contextlib import closing

from search_scale import remove, run_measured, write_corpus

BUILD = ("import time; from pyvornlex_search import Analyzer; started = time.perf_counter(); "
         "Analyzer(); print(time.perf_counter() - started)")
AT_HAND = ("import sys, time; from pyvornlex_search import Analyzer, sync; analyzer = Analyzer(); "
           "started = time.perf_counter(); sync(sys.argv[1], sys.argv[2], analyzer=analyzer); "
           "print(time.perf_counter() - started)")


def split_into_files(lines: list[str], folder: str, per_file: int) -> list[str]:
    os.makedirs(folder)
    paths = []
    for number, start in enumerate(range(0, len(lines), per_file)):
        path = os.path.join(folder, f"part-{number:06d}.txt")
        write_lines(path, lines[start:start + per_file])
        paths.append(path)
    return paths


def write_lines(path: str, lines: list[str]) -> None:
    with open(path, "w", encoding="utf-8") as handle:
        handle.write("".join(line + "\n" for line in lines))


def read_lines(path: str) -> list[str]:
    with open(path, encoding="utf-8") as handle:
        return handle.read().splitlines()


def command(*arguments: str) -> list[str]:
    return [sys.executable, "-m", "pyvornlex_search", *arguments, "--quiet"]


def one_round(lines: list[str], scratch: str, options: argparse.Namespace,
              seed: int) -> dict[str, float]:
    folder, database = os.path.join(scratch, "folder"), os.path.join(scratch, "folder.db")
    shutil.rmtree(folder, ignore_errors=True)
    remove(database)
    paths = split_into_files(lines, folder, options.lines_per_file)
    chooser = random.Random(seed)
    changed = max(1, round(len(paths) * options.changed))
    edited, rewritten = (chooser.sample(paths, 2 * changed)[part::2] for part in (0, 1))
    sync = command("sync", folder, database)
    times = {"index": run_measured(command("index", folder, database, "--documents",
                                           options.documents))[0],
             "sync, nothing changed": run_measured(sync)[0],
             "building the analyzer": float(run_measured([sys.executable, "-c", BUILD])[2])}
    edit_a_line(edited, chooser)
    times["sync, 1 line edited in each changed file"] = run_measured(sync)[0]
    rewrite(rewritten, lines, chooser)
    times["sync, changed files rewritten"] = run_measured(sync)[0]
    cycle = [times["sync, 1 line edited in each changed file"],
             times["sync, changed files rewritten"]]
    while removed_postings(database) and len(cycle) < 40:
        rewrite(chooser.sample(paths, changed), lines, chooser)
        cycle.append(run_measured(sync)[0])
    if removed_postings(database):
        raise RuntimeError("40 syncs and the removed postings were never rewritten")
    times["sync that rewrote the blocks"] = cycle[-1]
    times["sync, mean over the cycle"] = statistics.mean(cycle)
    times["syncs in the cycle"] = len(cycle)
    at_hand = [sys.executable, "-c", AT_HAND, folder, database]
    edit_a_line(chooser.sample(paths, changed), chooser)
    times["sync(), analyzer at hand, 1 line edited"] = float(run_measured(at_hand)[2])
    rewrite(chooser.sample(paths, changed), lines, chooser)
    times["sync(), analyzer at hand, files rewritten"] = float(run_measured(at_hand)[2])
    remove(database)
    return times


def edit_a_line(paths: list[str], chooser: random.Random) -> None:
    for path in paths:
        file_lines = read_lines(path)
        file_lines[chooser.randrange(len(file_lines))] += " 修改"
        write_lines(path, file_lines)


def rewrite(paths: list[str], lines: list[str], chooser: random.Random) -> None:
    for path in paths:
        write_lines(path, chooser.sample(lines, len(read_lines(path))))


def removed_postings(database: str) -> int:
    with closing(sqlite3.connect(database)) as connection:
        return int(connection.execute(
            "SELECT value FROM meta WHERE key = 'removed_postings'").fetchone()[0])


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("corpus", help="a text file, one document a line")
    parser.add_argument("--docs", type=int, default=0,
                        help="N synthetic documents drawn from the corpus's lines")
    parser.add_argument("--lines-per-file", type=int, default=32)
    parser.add_argument("--documents", choices=("line", "file"), default="line")
    parser.add_argument("--changed", type=float, default=0.01, help="the share of files changed")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--scratch", help="a folder for the corpus and databases")
    options = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="sync-bench-", dir=options.scratch) as scratch:
        source = options.corpus
        if options.docs:
            source = os.path.join(scratch, "synthetic.txt")
            write_corpus(options.corpus, source, options.docs, seed=1)
        lines = [line for line in read_lines(source) if line.strip()]
        rounds = [one_round(lines, scratch, options, seed) for seed in range(options.rounds)]
    files = -(-len(lines) // options.lines_per_file)
    print(f"{len(lines):,} lines in {files:,} files of {options.lines_per_file}, documents: "
          f"{options.documents}; {options.changed:.0%} of the files changed; "
          f"{options.rounds} rounds, medians (fresh processes, wall clock)")
    full = statistics.median(times["index"] for times in rounds)
    fixed = statistics.median(times["sync, nothing changed"] for times in rounds) + \
        statistics.median(times["building the analyzer"] for times in rounds)
    print(f"{'':45} {'seconds':>8} {'of index':>9} {'beyond nothing and analyzer':>28}")
    for name in rounds[0]:
        seconds = statistics.median(times[name] for times in rounds)
        if name == "syncs in the cycle":
            print(f"{name:45} {seconds:8.0f}")
            continue
        beyond = f"{(seconds - fixed) / full:.1%}" if name.startswith("sync, ") and \
            name != "sync, nothing changed" else ""
        if name.startswith("sync(), "):  # nothing to take away but the walk, which it holds
            beyond = f"{seconds / full:.1%}"
        print(f"{name:45} {seconds:8.2f} {seconds / full:9.1%} {beyond:>28}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
