"""Every comparison of the benchmark, declared once: its key in results.json,
the label of its row, how its ratio is formed, its target, and its two sides.
The rounds measure this list and the report reads it, in this order.

A side is a function of the fixtures that returns seconds (or bytes); a
`pair` returns both figures at once, for comparisons whose sides run in
fresh processes. Rows without a target are printed in parentheses."""

import subprocess
import sys
import threading
from dataclasses import dataclass
from typing import Callable, Optional

from fixtures import LONG_TEXT_LINES, MODEL_TOKENS
from pyvornlex import BM25
from pure_bm25 import PureBM25
from pyvornlex_data import dict_dir
from rounds import timed, timed_wall


@dataclass(frozen=True)
class Comparison:
    key: str
    label: str
    # "speed": reference time / ours (higher is better); "time" and "size":
    # ours / reference (lower is better).
    kind: str
    target: Optional[float] = None
    # "min": the ratio must reach the target; "max": it must not pass it.
    sense: Optional[str] = None
    ours: Optional[Callable] = None
    theirs: Optional[Callable] = None
    pair: Optional[Callable] = None
    # Measured in fresh processes after the rounds, a few times.
    fresh_processes: bool = False

    def __post_init__(self):
        if self.kind not in ("speed", "time", "size"):
            raise ValueError(f"{self.key}: unknown kind {self.kind!r}")
        if (self.target is None) != (self.sense is None) or self.sense not in (None, "min", "max"):
            raise ValueError(f"{self.key}: a target needs a sense, min or max, and the reverse")
        if (self.pair is None) == (self.ours is None or self.theirs is None):
            raise ValueError(f"{self.key}: give both sides, or a pair, not both")


# --- the module's sides and the references' ----------------------------------------


def cut_all(cut, lines):
    for line in lines:
        cut(line)


def cut_lines(method):
    return lambda fx: timed(lambda: cut_all(getattr(fx.jieba, method), fx.lines))


def library(command):
    return lambda fx: fx.library.ask(command)[0]


def cut_threads(jieba, texts, threads):
    def work(part):
        cut = jieba.cut
        for text in part:
            cut(text)

    parts = [texts[len(texts) * i // threads:len(texts) * (i + 1) // threads]
             for i in range(threads)]
    workers = [threading.Thread(target=work, args=(part,)) for part in parts]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()


def module_threads(count):
    return lambda fx: fx.cores.spread(
        0, lambda: timed_wall(lambda: cut_threads(fx.jieba, fx.texts, count)))


def library_threads(count):
    return lambda fx: fx.cores.spread(
        fx.library.process.pid, lambda: fx.library.ask(f"long {count} {LONG_TEXT_LINES}")[0])


CONSTRUCT_SNIPPET = """
import time
from pyvornlex import Jieba
from pyvornlex_data import dict_paths
paths = dict_paths()
wall, processor = time.perf_counter(), time.process_time()
jieba = Jieba(*paths)
print(time.perf_counter() - wall, time.process_time() - processor)
"""


def fresh_construction(clock):
    """Seconds that the first construction takes in a fresh process, ours
    and the library's from C++, by wall clock (what a command-line search
    waits for) or in processor time; both print the two figures."""
    field = {"wall": 0, "processor": 1}[clock]

    def pair(fx, round_number):
        commands = [[sys.executable, "-c", CONSTRUCT_SNIPPET],
                    [fx.args.jieba_bench, "construct", dict_dir()]]
        order = (0, 1) if round_number % 2 == 0 else (1, 0)
        seconds = [0.0, 0.0]
        for side in order:
            output = subprocess.run(commands[side], check=True, capture_output=True,
                                    text=True).stdout
            seconds[side] = float(output.split()[field])
        return seconds[0], seconds[1]
    return pair


def each(function, documents):
    for tokens in documents:
        function(tokens)


def train_ours(kind):
    def side(fx):
        model = BM25()
        return timed(lambda: each(model.train, fx.documents[kind]))
    return side


def train_pure(kind):
    def side(fx):
        model = PureBM25()
        return timed(lambda: each(model.train if kind == "str" else model.train_ids,
                                  fx.documents[kind]))
    return side


def encode_ours(kind, method):
    return lambda fx: timed(lambda: each(getattr(fx.trained[kind][0], method),
                                         fx.documents[kind]))


def encode_pure(kind, method):
    """PureBM25 names its id encoders with an _ids suffix."""
    name = method if kind == "str" or method.startswith("unordered") else method + "_ids"
    return lambda fx: timed(lambda: each(getattr(fx.trained[kind][1], name), fx.documents[kind]))


def probe_pair(ours, theirs):
    """Both figures from bench/probe.py, each in a fresh process."""
    return lambda fx, _round: (fx.probe(*ours(fx)), fx.probe(*theirs(fx)))


# --- the list ------------------------------------------------------------------------

TOKENS = f"{MODEL_TOKENS:,} tokens"

COMPARISONS = [
    Comparison("cut/library", "`cut` throughput vs cppjieba called from C++", "speed", 0.70,
               "min", cut_lines("cut"), library("cut")),
    Comparison("cut_for_search/library", "`cut_for_search` throughput vs cppjieba called from C++",
               "speed", 0.70, "min", cut_lines("cut_for_search"), library("cut_for_search")),
    Comparison("cut/python-jieba", "`cut` throughput vs python3-jieba `lcut` (HMM on)", "speed",
               5.0, "min", cut_lines("cut"), lambda fx: fx.python_jieba.ask("lcut")[0]),
    Comparison("threads", "two threads vs one, one `Jieba`, texts of 100 lines", "speed", 1.3,
               "min", module_threads(2), module_threads(1)),
    Comparison("threads/library", "(cppjieba from C++: two threads vs one, same texts)", "speed",
               ours=library_threads(2), theirs=library_threads(1)),
    Comparison("construct", "first `Jieba` construction vs cppjieba's own from C++ (fresh "
               "processes, wall clock)", "time", 1.1, "max", pair=fresh_construction("wall")),
    Comparison("construct/processor", "(the same in processor time)", "time",
               pair=fresh_construction("processor")),
    Comparison("train/str", "`train` tokens/s vs pure Python (str tokens)", "speed", 2.5, "min",
               train_ours("str"), train_pure("str")),
    Comparison("train/int", "`train` tokens/s vs pure Python (int ids)", "speed", 2.5, "min",
               train_ours("int"), train_pure("int")),
    Comparison("encode_document/str", "`encode_document` tokens/s vs pure Python (str tokens)",
               "speed", 1.2, "min", encode_ours("str", "encode_document"),
               encode_pure("str", "encode_document")),
    Comparison("encode_document/int", "`encode_document` tokens/s vs pure Python (int ids)",
               "speed", 1.2, "min", encode_ours("int", "encode_document"),
               encode_pure("int", "encode_document")),
    Comparison("encode_query/str", "`encode_query` tokens/s vs pure Python (str tokens)", "speed",
               1.6, "min", encode_ours("str", "encode_query"), encode_pure("str", "encode_query")),
    Comparison("encode_query/int", "`encode_query` tokens/s vs pure Python (int ids)", "speed",
               1.6, "min", encode_ours("int", "encode_query"), encode_pure("int", "encode_query")),
    Comparison("encode_document/unordered",
               "(`encode_document` vs pure Python that leaves its keys unordered, str tokens)",
               "speed", ours=encode_ours("str", "encode_document"),
               theirs=encode_pure("str", "unordered_encode_document")),
    Comparison("encode_query/unordered",
               "(`encode_query` vs pure Python that sums and returns in any order, str tokens)",
               "speed", ours=encode_ours("str", "encode_query"),
               theirs=encode_pure("str", "unordered_encode_query")),
    Comparison("memory", f"model memory vs a Python dict of the same tokens and counts ({TOKENS})",
               "size", 0.7, "max",
               pair=probe_pair(lambda fx: ("model", fx.tokens_path),
                               lambda fx: ("dict", fx.tokens_path)),
               fresh_processes=True),
    Comparison("road",
               "whole road (cut + train + encode_document) vs python3-jieba + pure-Python BM25",
               "speed", 5.0, "min", lambda fx: fx.module_road.ask("road")[0],
               lambda fx: fx.python_jieba.ask("road")[0]),
]

if len({c.key for c in COMPARISONS}) != len(COMPARISONS):
    raise ValueError("two comparisons share a key")
