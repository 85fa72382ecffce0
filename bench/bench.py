"""Runs every comparison of the performance benchmark in one process, in
interleaved rounds, and writes the table of medians.

Usage (bench/run.sh passes all of these):
  bench.py --jieba-bench EXE --corpus FILE --out DIR --system-python PY [--rounds N]

The module under test is the pyvornlex on PYTHONPATH. Each comparison runs
both of its sides back to back in every round, on the same core, the side
that goes first alternating, and reports the median of the rounds. Results
are discarded inside timed loops, as a caller that feeds them on would.
"""

import argparse
import gc
import json
import os
import platform
import random
import re
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from pure_bm25 import PureBM25  # noqa: E402
from pyvornlex import BM25, Jieba  # noqa: E402
from pyvornlex_data import dict_dir, dict_paths  # noqa: E402

MODEL_TOKENS = int(os.environ.get("VORN_BENCH_MODEL_TOKENS", "1000000"))
LONG_TEXT_LINES = 100


def log(message):
    print(message, file=sys.stderr, flush=True)


def timed(function):
    """Processor time of this process: on a shared machine it leaves out the
    time spent waiting for a core, which wall time would count at random."""
    gc.collect()
    start = time.process_time()
    function()
    return time.process_time() - start


def timed_wall(function):
    """Wall time, for the comparisons of one thread with two."""
    gc.collect()
    start = time.perf_counter()
    function()
    return time.perf_counter() - start


class Worker:
    """A benchmark process that answers one line "seconds words" per command."""

    def __init__(self, command):
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True, encoding="utf-8")
        ready = self.process.stdout.readline().split()
        if not ready or ready[0] != "ready":
            raise RuntimeError("worker failed to start: " + " ".join(command))

    def ask(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        seconds, words = self.process.stdout.readline().split()
        return float(seconds), int(words)

    def close(self):
        self.process.stdin.write("quit\n")
        self.process.stdin.close()
        self.process.wait()


# --- the module's sides -------------------------------------------------------


def cut_all(cut, lines):
    for line in lines:
        cut(line)


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


def train_all(model, documents, train):
    for tokens in documents:
        train(tokens)
    return model


def encode_all(encode, documents):
    for tokens in documents:
        encode(tokens)


class Cores:
    """Where the measuring processes run. The single-thread comparisons run both
    sides on one core: on a virtual machine each core's speed follows the
    host's load (one core can run 1.7 times slower than the other for minutes),
    and two sides timed on different cores would compare the cores. Worker
    processes inherit the core from this process; the thread rows spread over
    every core for the time they run."""

    def __init__(self):
        self.every = os.sched_getaffinity(0)
        self.one = {min(self.every)}

    def pin(self):
        os.sched_setaffinity(0, self.one)

    def spread(self, pid, function):
        """Runs function with the process `pid` (0: this thread) and the threads
        it starts meanwhile free to use every core."""
        os.sched_setaffinity(pid, self.every)
        try:
            return function()
        finally:
            os.sched_setaffinity(pid, self.one)


# --- checks: both sides must compute the same thing before they are timed ------


def read_model_file(text):
    """The model file as Python's json reads it. Tokens keep control characters
    other than the five with a JSON escape as they are, which json accepts only
    when it is not strict."""
    return json.loads(text, strict=False)


def same_weights(ours, theirs):
    """The same keys in the same order, and bit for bit the same weights."""
    return list(ours.items()) == list(theirs.items())


def check_bm25(documents, id_documents, out_dir):
    ours, theirs = BM25(), PureBM25()
    ours_ids, theirs_ids = BM25(), PureBM25()
    for tokens, ids in zip(documents, id_documents):
        ours.train(tokens)
        theirs.train(tokens)
        ours_ids.train(ids)
        theirs_ids.train_ids(ids)
    path = os.path.join(out_dir, "check-model.json")
    for model, reference in ((ours, theirs), (ours_ids, theirs_ids)):
        model.dump(path)
        with open(path, encoding="utf-8") as handle:
            dumped = read_model_file(handle.read())
        if (dumped["_doc_token_frequency"] != reference.doc_token_frequency
                or dumped["_doc_count"] != reference.doc_count):
            raise SystemExit("check failed: trained statistics differ")
    os.remove(path)
    for tokens, ids in zip(documents[::7], id_documents[::7]):
        pairs = ((ours.encode_document(tokens), theirs.encode_document(tokens)),
                 (ours.encode_query(tokens), theirs.encode_query(tokens)),
                 (ours_ids.encode_document(ids), theirs_ids.encode_document_ids(ids)),
                 (ours_ids.encode_query(ids), theirs_ids.encode_query_ids(ids)))
        for mine, reference in pairs:
            if not same_weights(mine, reference):
                raise SystemExit("check failed: encodings differ for " + repr(tokens[:10]))
    log("check: BM25 and the pure-Python BM25 give identical statistics and encodings")


# --- a model with a million distinct tokens -------------------------------------


def write_model_tokens(lines, path):
    """One document a line: a million distinct words of two to four Chinese
    characters drawn from the corpus's own characters, a fifth of them
    repeated so that counts vary."""
    characters = [c for c in "".join(lines) if "\u4e00" <= c <= "\u9fff"]
    chooser = random.Random(20260101)
    seen = set()
    distinct = []
    while len(distinct) < MODEL_TOKENS:
        word = "".join(chooser.choices(characters, k=chooser.randint(2, 4)))
        if word not in seen:
            seen.add(word)
            distinct.append(word)
    with open(path, "w", encoding="utf-8") as handle:
        for start in range(0, MODEL_TOKENS, 800):
            document = distinct[start:start + 800]
            document += chooser.choices(distinct[:start + 800], k=200)
            handle.write(" ".join(document) + "\n")


def read_documents(path):
    with open(path, encoding="utf-8") as handle:
        return [line.split() for line in handle]


def python_document(model, documents):
    table = {}
    for tokens in documents:
        for token in tokens:
            table[token] = table.get(token, 0) + 1
    return {"_b": model.b(), "_doc_count": len(documents),
            "_doc_length_average": sum(map(len, documents)) / len(documents),
            "_doc_token_frequency": table, "_k1": model.k1()}


def json_dump_to_file(document, path):
    with open(path, "w", encoding="utf-8") as handle:
        handle.write(json.dumps(document))


def load_model(text):
    BM25().load(text)


# --- fresh processes -------------------------------------------------------------


CONSTRUCT_SNIPPET = """
import time
from pyvornlex import Jieba
from pyvornlex_data import dict_paths
paths = dict_paths()
start = time.process_time()
jieba = Jieba(*paths)
print(time.process_time() - start)
"""


def fresh_construction(jieba_bench, round_number):
    """Seconds that one construction takes in a fresh process: ours, the library's."""
    commands = [[sys.executable, "-c", CONSTRUCT_SNIPPET], [jieba_bench, "construct", dict_dir()]]
    order = (0, 1) if round_number % 2 == 0 else (1, 0)
    seconds = [0.0, 0.0]
    for side in order:
        output = subprocess.run(commands[side], check=True, capture_output=True, text=True).stdout
        seconds[side] = float(output.split()[0])
    return seconds[0], seconds[1]


def probe(*arguments):
    output = subprocess.run([sys.executable, os.path.join(HERE, "memory_probe.py"), *arguments],
                            check=True, capture_output=True, text=True).stdout
    return int(output.split()[0])


# --- the run ----------------------------------------------------------------------


class Results:
    def __init__(self):
        self.samples = {}

    def add(self, name, ours, theirs):
        self.samples.setdefault(name, []).append((ours, theirs))

    def medians(self, name):
        pairs = self.samples[name]
        return (statistics.median(p[0] for p in pairs), statistics.median(p[1] for p in pairs))

    def ratio(self, name, kind):
        """The median of the rounds' own ratios: the two sides of a round ran
        back to back, so a slow spell of the machine weighs on both."""
        if kind == "speed":
            return statistics.median(theirs / ours for ours, theirs in self.samples[name])
        return statistics.median(ours / theirs for ours, theirs in self.samples[name])


def both(results, name, ours, theirs, round_number):
    """Times the two sides back to back; the first side alternates by round."""
    if round_number % 2 == 0:
        mine = ours()
        other = theirs()
    else:
        other = theirs()
        mine = ours()
    results.add(name, mine, other)


def machine():
    model = "unknown processor"
    with open("/proc/cpuinfo", encoding="utf-8") as handle:
        for line in handle:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo", encoding="ascii") as handle:
        memory_gib = int(handle.readline().split()[1]) / 2**20
    compiler = subprocess.run(["c++", "--version"], capture_output=True,
                              text=True).stdout.splitlines()[0]
    return (f"{model}, {os.cpu_count()} cores, {memory_gib:.0f} GiB; {platform.system()} "
            f"{platform.release()}; {compiler}; Python {platform.python_version()}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--jieba-bench", required=True)
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--system-python", required=True)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    with open(args.corpus, encoding="utf-8") as handle:
        lines = [line for line in handle.read().split("\n") if line]
    corpus_bytes = sum(len(line.encode()) for line in lines)
    log(f"corpus: {len(lines)} lines, {corpus_bytes / 1e6:.1f} MB")

    cores = Cores()
    cores.pin()
    jieba = Jieba(*dict_paths())
    library = Worker([args.jieba_bench, "serve", dict_dir(), args.corpus])
    python_jieba = Worker([args.system_python, os.path.join(HERE, "jieba_py_worker.py"),
                           args.corpus])
    module_road = Worker([sys.executable, os.path.join(HERE, "module_worker.py"), args.corpus])

    documents = [jieba.cut(line) for line in lines]
    words = sum(map(len, documents))
    _, library_words = library.ask("cut")
    if library_words != words:
        raise SystemExit(f"check failed: the module cut {words} words, the library "
                         f"{library_words}")
    vocabulary = {}
    id_documents = [[vocabulary.setdefault(t, len(vocabulary)) for t in d] for d in documents]
    log(f"tokens: {words} ({len(vocabulary)} distinct)")
    check_bm25(documents, id_documents, args.out)

    tokens_path = os.path.join(args.out, "model-tokens.txt")
    write_model_tokens(lines, tokens_path)
    model_documents = read_documents(tokens_path)
    big_model = BM25()
    train_all(big_model, model_documents, big_model.train)
    big_document = python_document(big_model, model_documents)
    ours_path = os.path.join(args.out, "model.json")
    json_path = os.path.join(args.out, "model-json.json")
    big_model.dump(ours_path)
    json_dump_to_file(big_document, json_path)
    with open(ours_path, encoding="utf-8") as handle:
        ours_text = handle.read()
    with open(json_path, encoding="utf-8") as handle:
        json_text = handle.read()
    if read_model_file(ours_text)["_doc_token_frequency"] != big_document["_doc_token_frequency"]:
        raise SystemExit("check failed: the dumped model and the Python table differ")
    del model_documents

    texts = ["\n".join(lines[i:i + LONG_TEXT_LINES])
             for i in range(0, len(lines), LONG_TEXT_LINES)]

    # One untimed pass over a slice, so that no side's first round pays for
    # caches and code that are cold.
    cut_all(jieba.cut, lines[:2000])
    cut_all(jieba.cut_for_search, lines[:2000])
    warm = BM25()
    train_all(warm, documents[:2000], warm.train)
    encode_all(warm.encode_document, documents[:2000])
    encode_all(warm.encode_query, documents[:2000])

    def module_threads(count):
        return cores.spread(0, lambda: timed_wall(lambda: cut_threads(jieba, texts, count)))

    def library_threads(count):
        return cores.spread(library.process.pid,
                            lambda: library.ask(f"long {count} {LONG_TEXT_LINES}")[0])

    results = Results()
    for number in range(args.rounds):
        log(f"round {number + 1} of {args.rounds}")
        both(results, "cut/library", lambda: timed(lambda: cut_all(jieba.cut, lines)),
             lambda: library.ask("cut")[0], number)
        both(results, "cut_for_search/library",
             lambda: timed(lambda: cut_all(jieba.cut_for_search, lines)),
             lambda: library.ask("cut_for_search")[0], number)
        both(results, "cut/python-jieba", lambda: timed(lambda: cut_all(jieba.cut, lines)),
             lambda: python_jieba.ask("lcut")[0], number)
        both(results, "threads", lambda: module_threads(2), lambda: module_threads(1), number)
        both(results, "threads/library", lambda: library_threads(2), lambda: library_threads(1),
             number)
        results.add("construct", *fresh_construction(args.jieba_bench, number))

        for kind, docs in (("str", documents), ("int", id_documents)):
            mine, pure = BM25(), PureBM25()
            pure_train = pure.train if kind == "str" else pure.train_ids
            both(results, f"train/{kind}", lambda: timed(lambda: train_all(mine, docs, mine.train)),
                 lambda: timed(lambda: train_all(pure, docs, pure_train)), number)
            pure_document = pure.encode_document if kind == "str" else pure.encode_document_ids
            pure_query = pure.encode_query if kind == "str" else pure.encode_query_ids
            both(results, f"encode_document/{kind}",
                 lambda: timed(lambda: encode_all(mine.encode_document, docs)),
                 lambda: timed(lambda: encode_all(pure_document, docs)), number)
            both(results, f"encode_query/{kind}",
                 lambda: timed(lambda: encode_all(mine.encode_query, docs)),
                 lambda: timed(lambda: encode_all(pure_query, docs)), number)
            if kind == "str":
                both(results, "encode_document/unordered",
                     lambda: timed(lambda: encode_all(mine.encode_document, docs)),
                     lambda: timed(lambda: encode_all(pure.unordered_encode_document, docs)),
                     number)
                both(results, "encode_query/unordered",
                     lambda: timed(lambda: encode_all(mine.encode_query, docs)),
                     lambda: timed(lambda: encode_all(pure.unordered_encode_query, docs)),
                     number)
            del mine, pure

        both(results, "dump", lambda: timed(lambda: big_model.dump(ours_path)),
             lambda: timed(lambda: json_dump_to_file(big_document, json_path)), number)
        both(results, "load", lambda: timed(lambda: load_model(ours_text)),
             lambda: timed(lambda: json.loads(json_text)), number)
        both(results, "road", lambda: module_road.ask("road")[0],
             lambda: python_jieba.ask("road")[0], number)

    library.close()
    python_jieba.close()
    module_road.close()
    del big_model, big_document

    log("memory, in fresh processes")
    memory_rounds = max(1, min(3, args.rounds))
    for _ in range(memory_rounds):
        results.add("memory", probe("model", tokens_path), probe("dict", tokens_path))
        results.add("peak/dump", probe("dump", tokens_path, ours_path),
                    probe("json_dumps", tokens_path, json_path))
        results.add("peak/load", probe("load", ours_path), probe("json_loads", json_path))

    report = build_report(results, args, len(lines), corpus_bytes, words, len(vocabulary))
    with open(os.path.join(args.out, "results.json"), "w", encoding="utf-8") as handle:
        json.dump(report, handle, indent=1, ensure_ascii=False)
    markdown = render_markdown(report)
    with open(os.path.join(args.out, "results.md"), "w", encoding="utf-8") as handle:
        handle.write(markdown)
    print(markdown)
    return 0 if all(row["met"] is not False for row in report["rows"]) else 1


# --- the report --------------------------------------------------------------------

# (key, what, how the ratio is formed, target, at least or at most)
ROWS = [
    ("cut/library", "`cut` throughput vs cppjieba called from C++", "speed", 0.70, "min"),
    ("cut_for_search/library", "`cut_for_search` throughput vs cppjieba called from C++",
     "speed", 0.70, "min"),
    ("cut/python-jieba", "`cut` throughput vs python3-jieba `lcut` (HMM on)", "speed", 5.0, "min"),
    ("threads", "two threads vs one, one `Jieba`, texts of 100 lines", "speed", 1.3, "min"),
    ("threads/library", "(cppjieba from C++: two threads vs one, same texts)", "speed", None,
     None),
    ("construct", "`Jieba` construction time vs cppjieba's own (fresh processes)", "time", 1.1,
     "max"),
    ("train/str", "`train` tokens/s vs pure Python (str tokens)", "speed", 2.5, "min"),
    ("train/int", "`train` tokens/s vs pure Python (int ids)", "speed", 2.5, "min"),
    ("encode_document/str", "`encode_document` tokens/s vs pure Python (str tokens)", "speed",
     1.2, "min"),
    ("encode_document/int", "`encode_document` tokens/s vs pure Python (int ids)", "speed", 1.2,
     "min"),
    ("encode_query/str", "`encode_query` tokens/s vs pure Python (str tokens)", "speed", 1.6,
     "min"),
    ("encode_query/int", "`encode_query` tokens/s vs pure Python (int ids)", "speed", 1.6, "min"),
    ("encode_document/unordered",
     "(`encode_document` vs pure Python that leaves its keys unordered, str tokens)", "speed",
     None, None),
    ("encode_query/unordered",
     "(`encode_query` vs pure Python that sums and returns in any order, str tokens)", "speed",
     None, None),
    ("dump", f"`dump` time vs `json.dumps` written to a file ({MODEL_TOKENS:,} tokens)", "time",
     0.5, "max"),
    ("load", f"`load` time vs `json.loads` ({MODEL_TOKENS:,} tokens)", "time", 0.75, "max"),
    ("peak/dump", "(`dump` peak memory vs `json.dumps` to a file)", "size", None, None),
    ("peak/load", "(`load` peak memory vs `json.loads`)", "size", None, None),
    ("memory",
     f"model memory vs a Python dict of the same tokens and counts ({MODEL_TOKENS:,} tokens)",
     "size", 0.7, "max"),
    ("road", "whole road (cut + train + encode_document) vs python3-jieba + pure-Python BM25",
     "speed", 5.0, "min"),
]


def build_report(results, args, lines, corpus_bytes, words, distinct):
    rows = []
    for key, what, kind, target, sense in ROWS:
        ours, theirs = results.medians(key)
        # "speed": ours is faster by theirs / ours; "time" and "size": ours / theirs.
        ratio = results.ratio(key, kind)
        met = None
        if target is not None:
            met = ratio >= target if sense == "min" else ratio <= target
        rows.append({"key": key, "what": what, "kind": kind, "ours": ours, "theirs": theirs,
                     "ratio": ratio, "target": target, "sense": sense, "met": met,
                     "samples": results.samples[key]})
    return {
        "machine": machine(),
        "corpus": f"{lines} lines, {corpus_bytes / 1e6:.1f} MB, {words} words ({distinct} distinct)",
        "rounds": args.rounds,
        "rows": rows,
    }


def quantity(value, kind):
    if kind == "size":
        return f"{value / 2**20:.1f} MiB"
    return f"{value * 1000:.0f} ms" if value < 10 else f"{value:.1f} s"


def render_markdown(report):
    out = [
        f"Machine: {report['machine']}.",
        "",
        f"Corpus: {report['corpus']}. Times are medians of {report['rounds']} interleaved "
        "rounds, in processor time of the measuring process (wall time for the thread "
        "rows); each ratio is the median of the rounds' own ratios. Memory: medians of 3 "
        "fresh processes.",
        "",
        "| What | pyvornlex | Reference | Ratio | Target | Met |",
        "|---|---:|---:|---:|---:|:---:|",
    ]
    for row in report["rows"]:
        target = "" if row["target"] is None else (
            ("≥ " if row["sense"] == "min" else "≤ ") + f"{row['target']:g}")
        met = {None: "", True: "yes", False: "**no**"}[row["met"]]
        out.append(f"| {row['what']} | {quantity(row['ours'], row['kind'])} | "
                   f"{quantity(row['theirs'], row['kind'])} | {row['ratio']:.2f} | {target} | "
                   f"{met} |")
    out.append("")
    out.append("Ratios: throughput ratios are reference time / pyvornlex time (higher is "
               "better); time and memory ratios are pyvornlex / reference (lower is better).")
    return "\n".join(out) + "\n"


if __name__ == "__main__":
    sys.exit(main())
