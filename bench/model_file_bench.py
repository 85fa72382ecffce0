"""Model files at scale: BM25.load and BM25.dump against Python's json module
on the same tables, and how the cost of every operation grows with the number
of distinct tokens.

Usage (bench/run.sh builds the module and passes --out and --rounds):
  model_file_bench.py --out DIR [--sizes 250000,1000000,4000000] [--kinds ascii,chinese,ids]
                      [--rounds 5] [--fresh-rounds 5] [--large 16000000]

The comparisons with json run both sides back to back in every round, the
side that goes first alternating, in this process, pinned to one core; a
ratio is the median of the rounds' own ratios. Ratios are by wall clock, what
a caller waits for (fsync's wait included on both sides of dump); the
processor-time ratios stand beside them. dump writes a model trained
document by document, as users' models are (its tokens in the order training
met them, not in the file's); json.dumps writes the same statistics as
json.loads reads them from the file, its keys already in order, which is
json's fastest case. Results are freed after the clock stops, on both sides.

Peak memory and the cost per token are measured in fresh processes (see
probe.py), as a service meets each operation when it starts: in a process
that has allocated and freed as much before, small tables would reuse memory
that large ones must fault in. Peaks come from load and json.loads side by
side; the costs from a phase of their own, each operation's sizes of a kind
one right after the other (see fresh_rounds). --large adds a size for the
train and memory columns of the cost table only.
"""

import argparse
import gc
import json
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from model_tokens import (KINDS, counts_for, distinct_tokens, encoding_documents,  # noqa: E402
                          model_text, python_document, training_documents)
from pyvornlex import BM25  # noqa: E402
from report import machine, table_lines  # noqa: E402

TARGETS = {"load": 0.25, "dump": 0.12, "peak": 0.6}
# The ratio targets hold from this size on; smaller tables show the trend.
TARGET_FROM = 1_000_000
FLAT = 1.3
# Long enough for this machine's host to take back memory a process freed.
HOST_RECLAIM_SECONDS = 10
HOST_PROBE_MIB = 512


def log(message):
    print(message, file=sys.stderr, flush=True)


def timed(function):
    """(processor seconds, wall seconds) of one call; its result is freed
    after the clocks stop."""
    gc.collect()
    wall = time.perf_counter()
    start = time.process_time()
    result = function()
    seconds = time.process_time() - start, time.perf_counter() - wall
    del result
    return seconds


def unread(text):
    """The same text as a new str, as a file's read() gives it."""
    return text.encode("utf-8").decode("utf-8")


def timed_on(function, argument):
    return timed(lambda: function(argument))


def both(ours, theirs, round_number):
    """Runs the two sides back to back; the first one alternates by round."""
    if round_number % 2 == 0:
        mine = ours()
        return mine, theirs()
    other = theirs()
    return ours(), other


def probe(*arguments):
    output = subprocess.run([sys.executable, os.path.join(HERE, "probe.py"),
                             *map(str, arguments)], check=True, capture_output=True,
                            text=True).stdout
    return [float(field) for field in output.split()]


def loaded(text):
    model = BM25()
    model.load(text)
    return model


def trained_model(documents):
    model = BM25()
    for document in documents:
        model.train(document)
    return model


def json_dump_synced(document, path):
    with open(path, "w", encoding="utf-8") as handle:
        handle.write(json.dumps(document, indent=2, sort_keys=True))
        handle.flush()
        os.fsync(handle.fileno())


def write_documents(documents, path):
    with open(path, "w", encoding="utf-8") as handle:
        for document in documents:
            handle.write(" ".join(document))
            handle.write("\n")
    return sum(map(len, documents))


def median_ratio(pairs):
    return statistics.median(ours / theirs for ours, theirs in pairs)


def medians(pairs):
    return statistics.median(p[0] for p in pairs), statistics.median(p[1] for p in pairs)


class Files:
    """The files of one kind and size, removed when done."""

    def __init__(self, directory, kind, size):
        stem = os.path.join(directory, f"{kind}-{size}")
        self.model, self.json = stem + "-model.json", stem + "-json.json"
        self.dump = stem + "-dump.json"
        self.train, self.encode = stem + "-train.txt", stem + "-encode.txt"

    def remove(self):
        for path in (self.model, self.json, self.dump, self.train, self.encode):
            if os.path.exists(path):
                os.unlink(path)


def prepare(kind, size, files):
    """The model of `size` tokens of `kind`, its file's text as dump wrote it,
    and the same statistics as Python objects."""
    tokens = distinct_tokens(kind, size)
    table = counts_for(tokens)
    model = loaded(model_text(table))
    model.dump(files.model)
    with open(files.model, encoding="utf-8") as handle:
        text = handle.read()
    document = python_document(table)
    if json.loads(text) != document:
        raise SystemExit(f"check failed: {kind} {size}: the dumped file and the table differ")
    return tokens, model, text, document


class Case:
    """One kind and size: its files, and what was measured on it."""

    def __init__(self, directory, kind, size, large=False):
        self.kind, self.size, self.large = kind, size, large
        self.files = Files(directory, kind, size)
        self.trained = self.encoded = 0
        self.result = {"kind": kind, "size": size}
        self.peaks = []
        self.costs = {"train": [], "model_bytes": []}
        if not large:
            self.costs.update({"encode_document": [], "dump": [], "load": []})


def against_json(case, args):
    """The in-process rounds against json; leaves the files for the fresh
    processes behind."""
    kind, size, files = case.kind, case.size, case.files
    log(f"{kind} {size:,}: preparing")
    tokens, _, text, _ = prepare(kind, size, files)
    documents = training_documents(tokens)
    case.trained = write_documents(documents, files.train)
    case.encoded = write_documents(encoding_documents(tokens), files.encode)
    del tokens
    trained = trained_model(documents)
    trained.dump(files.dump)
    with open(files.dump, encoding="utf-8") as handle:
        trained_text = handle.read()
    trained_document = json.loads(trained_text)
    del documents

    log(f"{kind} {size:,}: against json, {args.rounds} rounds")
    loads, dumps = [], []
    for number in range(args.rounds):
        # A str read from a file each time: the module reads the str's UTF-8
        # form, which CPython makes on first use and keeps with the str.
        loads.append(both(lambda: timed_on(loaded, unread(text)),
                          lambda: timed_on(json.loads, unread(text)), number))
        dumps.append(both(lambda: timed(lambda: trained.dump(files.dump)),
                          lambda: timed(lambda: json_dump_synced(trained_document, files.json)),
                          number))
    with open(files.dump, encoding="utf-8") as handle:
        if handle.read() != trained_text:
            raise SystemExit(f"check failed: {kind} {size}: dump wrote other bytes")

    cpu = [[(p[0][0], p[1][0]) for p in pairs] for pairs in (loads, dumps)]
    wall = [[(p[0][1], p[1][1]) for p in pairs] for pairs in (loads, dumps)]
    case.result.update({
        "file_bytes": os.path.getsize(files.model),
        "load": medians(wall[0]), "load_ratio": median_ratio(wall[0]),
        "load_cpu_ratio": median_ratio(cpu[0]),
        "dump": medians(wall[1]), "dump_ratio": median_ratio(wall[1]),
        "dump_cpu_ratio": median_ratio(cpu[1]),
        "rounds": {"load": loads, "dump": dumps},
    })


def prepare_large(case):
    log(f"{case.kind} {case.size:,}: preparing the training documents")
    tokens = distinct_tokens(case.kind, case.size)
    case.trained = write_documents(training_documents(tokens), case.files.train)


def peaks_in_fresh_processes(case, number):
    ours, theirs = both(lambda: probe("load", case.files.model),
                        lambda: probe("json_loads", case.files.model), number)
    case.peaks.append((ours[1], theirs[1]))


def cost_probe(case, operation):
    """The probe's arguments for `operation` on `case`, and what its seconds
    are divided by."""
    files = case.files
    return {"train": (("train", files.train), case.trained),
            "load": (("load", files.model), case.size),
            "dump": (("dump", files.train, files.dump), case.size),
            "encode_document": (("encode", files.model, files.encode), case.encoded)}[operation]


def cost_in_fresh_process(case, operation):
    """The second of two probes run back to back (see fresh_rounds)."""
    arguments, divisor = cost_probe(case, operation)
    probe(*arguments)
    figures = probe(*arguments)
    case.costs[operation].append(figures[0] / divisor)
    if operation == "train":
        case.costs["model_bytes"].append(figures[1] / case.size)


def host_memory():
    """Milliseconds per MiB of first touching memory that the host has taken
    back (after a pause), and memory that a process freed just before."""
    time.sleep(HOST_RECLAIM_SECONDS)
    reclaimed = probe("touch", HOST_PROBE_MIB)[0]
    just_freed = probe("touch", HOST_PROBE_MIB)[0]
    return [seconds * 1000 / HOST_PROBE_MIB for seconds in (reclaimed, just_freed)]


COST_OPERATIONS = ("train", "load", "dump", "encode_document")


def fresh_rounds(cases, args):
    """Peak memory first: load and json.loads of each case side by side.
    Then the costs per token, in a phase of their own: for each operation,
    the sizes of a kind one right after the other, smallest first in one
    round and largest first in the next, each the second of two probes run
    back to back. On this virtual machine the host takes back memory that
    the guest has left free for a few seconds, and a process pays 1.5 to 2
    ms for each MiB of it that it touches first (host_memory measures it),
    while memory freed just before costs a twentieth of that: a small table
    nearly always finds that much memory freed just before, a table of
    millions rarely, so that a single probe compares the host's state at
    two moments and not the sizes. The first probe of each pair frees as
    much memory as the second will need."""
    for number in range(args.fresh_rounds):
        log(f"peak memory, round {number + 1} of {args.fresh_rounds}")
        for case in (cases if number % 2 == 0 else reversed(cases)):
            if not case.large:
                peaks_in_fresh_processes(case, number)
    kinds = list(dict.fromkeys(case.kind for case in cases))
    for number in range(args.fresh_rounds):
        log(f"cost per token, round {number + 1} of {args.fresh_rounds}")
        for kind in kinds:
            of_kind = sorted((case for case in cases if case.kind == kind),
                             key=lambda case: case.size, reverse=number % 2 == 1)
            for operation in COST_OPERATIONS:
                for case in of_kind:
                    # A large case measures only what its costs name.
                    if operation in case.costs:
                        cost_in_fresh_process(case, operation)
    for case in cases:
        case.result["per_token"] = {name: statistics.median(values)
                                    for name, values in case.costs.items()}
        case.result.setdefault("rounds", {})["per_token"] = case.costs
        if case.peaks:
            case.result.update({"peak": medians(case.peaks),
                                "peak_ratio": median_ratio(case.peaks)})
            case.result["rounds"]["peak"] = case.peaks


def machine_now():
    with open("/proc/loadavg", encoding="ascii") as handle:
        load = " ".join(handle.read().split()[:3])
    return f"{machine()}; load average at the end {load}"


def ms(seconds):
    return f"{seconds * 1000:.0f} ms"


def mib(size):
    return f"{size / 2**20:.1f} MiB"


def met(ratio, target, size):
    if size < TARGET_FROM:
        return ""
    return "yes" if ratio <= target else "NO"


def targets_table(results):
    lines = ["| Kind | Tokens | File | `load` | `json.loads` | Ratio | Met | (processor) "
             "| `dump` | `json.dumps` + fsync | Ratio | Met | (processor) "
             "| `load` peak | `json.loads` peak | Ratio | Met |",
             "|---|---:|---:|---:|---:|---:|:---:|---:|---:|---:|---:|:---:|---:|---:|---:|---:|"
             ":---:|"]
    for r in results:
        size = r["size"]
        lines.append(
            f"| {r['kind']} | {size:,} | {r['file_bytes'] / 1e6:.0f} MB "
            f"| {ms(r['load'][0])} | {ms(r['load'][1])} | {r['load_ratio']:.3f} "
            f"| {met(r['load_ratio'], TARGETS['load'], size)} | {r['load_cpu_ratio']:.3f} "
            f"| {ms(r['dump'][0])} | {ms(r['dump'][1])} | {r['dump_ratio']:.3f} "
            f"| {met(r['dump_ratio'], TARGETS['dump'], size)} | {r['dump_cpu_ratio']:.3f} "
            f"| {mib(r['peak'][0])} | {mib(r['peak'][1])} | {r['peak_ratio']:.3f} "
            f"| {met(r['peak_ratio'], TARGETS['peak'], size)} |")
    return lines


COLUMNS = [("train", "`train` ns/token", 1e9),
           ("encode_document", "`encode_document` ns/token", 1e9),
           ("dump", "`dump` ns/token", 1e9), ("load", "`load` ns/token", 1e9),
           ("model_bytes", "model bytes/token", 1)]


def growth(smallest, largest, key):
    """The cost per token of the largest size over the smallest's: the median
    of the rounds' own ratios, as for every other ratio (a kind's sizes run
    one after another in every round, so a ratio compares one moment)."""
    pairs = zip(smallest["rounds"]["per_token"][key], largest["rounds"]["per_token"][key])
    return statistics.median(large / small for small, large in pairs)


def scaling_table(results, kinds):
    lines = ["| Kind | Tokens | " + " | ".join(title for _, title, _ in COLUMNS) + " |",
             "|---|---:|" + "---:|" * len(COLUMNS)]
    for kind in kinds:
        rows = sorted((r for r in results if r["kind"] == kind), key=lambda r: r["size"])
        for r in rows:
            cells = [f"{r['per_token'][key] * scale:.1f}" if key in r["per_token"] else ""
                     for key, _, scale in COLUMNS]
            lines.append(f"| {kind} | {r['size']:,} | " + " | ".join(cells) + " |")
        cells = []
        for key, _, _ in COLUMNS:
            measured = [r for r in rows if key in r["per_token"]]
            cells.append(f"{growth(measured[0], measured[-1], key):.2f}"
                         if len(measured) > 1 else "")
        lines.append(f"| {kind} | largest / smallest | " + " | ".join(cells) + " |")
    return lines


OPERATIONS = [("load", "time", "`load` time vs `json.loads`, wall clock", "load", "load_ratio"),
              ("dump", "time", "`dump` of a trained model vs `json.dumps(indent=2, "
               "sort_keys=True)` + fsync, wall clock", "dump", "dump_ratio"),
              ("peak", "size", "`load` peak memory growth vs `json.loads`'s", "peak",
               "peak_ratio")]


def summary_rows(compared, results):
    """The rows that join the main table: for each target and size, the kind
    that comes nearest to missing it; then the steepest growth of a cost per
    token from the smallest size to the largest."""
    rows = []
    for name, quantity_kind, label, figures, ratio_key in OPERATIONS:
        for size in sorted({r["size"] for r in compared if r["size"] >= TARGET_FROM}):
            worst = max((r for r in compared if r["size"] == size), key=lambda r: r[ratio_key])
            ratio = worst[ratio_key]
            rows.append({"key": f"{name}/{size}", "kind": quantity_kind,
                         "what": f"{label} ({size:,} tokens; worst kind: {worst['kind']})",
                         "ours": worst[figures][0], "theirs": worst[figures][1], "ratio": ratio,
                         "target": TARGETS[name], "sense": "max", "met": ratio <= TARGETS[name]})
    steepest = None
    for kind in {r["kind"] for r in results}:
        by_size = sorted((r for r in results if r["kind"] == kind), key=lambda r: r["size"])
        for key, title, _ in COLUMNS:
            measured = [r for r in by_size if key in r["per_token"]]
            if len(measured) > 1:
                ratio = growth(measured[0], measured[-1], key)
                if steepest is None or ratio > steepest[0]:
                    steepest = (ratio, kind, key, title,
                                *((r["size"], r["per_token"][key])
                                  for r in (measured[0], measured[-1])))
    if steepest is not None:
        ratio, kind, key, title, smallest, largest = steepest
        unit = "bytes" if key == "model_bytes" else "per_token"
        rows.append({"key": "per_token", "kind": unit,
                     "what": (f"cost per token, {largest[0]:,} vs {smallest[0]:,} tokens "
                              f"(steepest: {title.rsplit(' ', 1)[0]}, {kind})"),
                     "ours": largest[1], "theirs": smallest[1], "ratio": ratio, "target": FLAT,
                     "sense": "max", "met": ratio <= FLAT})
    return rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--sizes", default="250000,1000000,4000000")
    parser.add_argument("--kinds", default=",".join(KINDS))
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--fresh-rounds", type=int, default=5)
    parser.add_argument("--large", type=int, default=0,
                        help="a further size for the train and memory columns (0: none)")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    sizes = [int(size) for size in args.sizes.split(",")]
    kinds = args.kinds.split(",")
    # Every process on one core: on a virtual machine the cores' speeds
    # differ from minute to minute, and sides timed on different cores would
    # compare the cores. The fresh processes inherit the core.
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})

    cases = [Case(args.out, kind, size) for kind in kinds for size in sizes]
    if args.large:
        cases += [Case(args.out, kind, args.large, large=True) for kind in kinds]
    # Kinds one after another, sizes of a kind side by side.
    cases.sort(key=lambda case: kinds.index(case.kind))
    try:
        for case in cases:
            if case.large:
                prepare_large(case)
            else:
                against_json(case, args)
            gc.collect()
        fresh_rounds(cases, args)
        log("host memory: first touch after a pause, and right after a free")
        touch_costs = host_memory()
    finally:
        for case in cases:
            case.files.remove()
    results = [case.result for case in cases]
    compared = [case.result for case in cases if not case.large]

    rows = summary_rows(compared, results)
    report = [f"Machine: {machine_now()}.", "",
              f"Against json: medians of {args.rounds} interleaved rounds in one process, "
              f"wall clock (the processor-time ratios in parentheses); dump writes a model "
              f"trained document by document; peak memory: "
              f"medians of {args.fresh_rounds} fresh processes. Ratios are module / json "
              f"(lower is better); targets from {TARGET_FROM:,} tokens: load ≤ "
              f"{TARGETS['load']}, dump ≤ {TARGETS['dump']}, load peak memory ≤ "
              f"{TARGETS['peak']}.", ""]
    report += targets_table(compared)
    report += ["", f"Cost per token, medians of {args.fresh_rounds} rounds of fresh processes, an "
               f"operation's sizes one right after the other "
               f"(train: documents of 100 tokens in which every token occurs twice; encode_document: "
               f"documents of 100 tokens drawn from the vocabulary; flat means largest / "
               f"smallest ≤ {FLAT}):", ""]
    report += scaling_table(results, kinds)
    report += ["", f"First writes to fresh memory on huge pages ({HOST_PROBE_MIB} MiB, "
               f"as the table takes it): {touch_costs[0]:.2f} ms per MiB for memory "
               f"left free for {HOST_RECLAIM_SECONDS} s, {touch_costs[1]:.2f} ms per MiB for "
               f"memory freed just before."]
    report += ["", "The rows that join the main table:", ""]
    report += table_lines(rows)
    text = "\n".join(report) + "\n"
    print(text)
    with open(os.path.join(args.out, "model_file_results.md"), "w", encoding="utf-8") as handle:
        handle.write(text)
    with open(os.path.join(args.out, "model_file_results.json"), "w", encoding="utf-8") as handle:
        json.dump({"machine": machine_now(), "rows": rows, "cases": results,
                   "touch_ms_per_mib": touch_costs}, handle, indent=1)
    return 0 if all(row["met"] for row in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
