"""Wall time of training BM25 through Dask against one plain process, and the
merge's share of it (docs/scaling-out.md, "What Dask costs"); bash bench/run.sh
runs it on the bench corpus.

    "$python" bench/dask_scaling.py CORPUS [--rounds 3] [--repeat N] [--module-dir build/python]

CORPUS is a text file, one document a line (the bench corpus of
bench/run.sh); --repeat N trains on N copies of it one after the other, to
show a corpus on which cutting outweighs the dictionaries' loading. Every road runs as a fresh process of its own (interpreter,
imports, Jieba's dictionaries and the model file included), the roads taking
turns within each round; times are medians of wall-clock time and of the
processor time of the road's processes (driver and workers). Dask runs on its
`processes` scheduler, through examples/dask_training.py, with Debian's
python3-dask linked by scripts/debian_dask.py. All roads must write the same
model file, byte for byte.
"""

import argparse
import os
import re
import resource
import statistics
import subprocess
import sys
import tempfile
import time

from report import machine

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLE = os.path.join(ROOT, "examples", "dask_training.py")
# (name, workers, partitions); workers None is the plain process.
ROADS = [("one plain process", None, None), ("Dask, 1 worker", 1, 1),
         ("Dask, 2 workers", 2, 2), ("Dask, 2 workers, 8 partitions", 2, 8)]
PLAIN = """
import sys
sys.path.insert(0, sys.argv[1])
from dask_training import train_in_one_process
from pyvornlex_merge import write_model
write_model(sys.argv[3], train_in_one_process(sys.argv[2]))
"""
SECONDS = re.compile(r"seconds: total ([0-9.]+), map ([0-9.]+), merge on the driver ([0-9.]+)")


def link_dask(folder):
    sys.path.insert(0, os.path.join(ROOT, "scripts"))
    import debian_dask

    return debian_dask.link_dask(folder)


def run_road(workers, partitions, corpus, output, environment):
    if workers is None:
        command = [sys.executable, "-c", PLAIN, os.path.dirname(EXAMPLE), corpus, output]
    else:
        command = [sys.executable, EXAMPLE, "--workers", str(workers), "--partitions",
                   str(partitions), "--no-verify", "-o", output, corpus]
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.perf_counter()
    result = subprocess.run(command, env=environment, capture_output=True, text=True)
    wall = time.perf_counter() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    # The workers are reaped by the driver, so their time counts here too.
    processor = (after.ru_utime + after.ru_stime) - (before.ru_utime + before.ru_stime)
    if result.returncode != 0:
        raise SystemExit("dask_scaling: %s failed:\n%s" % (" ".join(command), result.stderr))
    seconds = SECONDS.search(result.stdout)
    merge = float(seconds.group(3)) if seconds else 0.0
    with open(output, "rb") as handle:
        return wall, processor, merge, handle.read()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("corpus")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--repeat", type=int, default=1, help="copies of the corpus (1)")
    parser.add_argument("--module-dir", default=os.path.join(ROOT, "build", "python"),
                        help="the folder of the built module (default build/python)")
    arguments = parser.parse_args()
    with open(arguments.corpus, encoding="utf-8") as handle:
        text = handle.read()
    text = (text if text.endswith("\n") else text + "\n") * arguments.repeat
    lines = text.count("\n")

    with tempfile.TemporaryDirectory(prefix="dask-scaling-") as scratch:
        corpus = os.path.join(scratch, os.path.basename(arguments.corpus))
        with open(corpus, "w", encoding="utf-8") as handle:
            handle.write(text)
        links = link_dask(os.path.join(scratch, "links"))
        environment = dict(os.environ, PYTHONDONTWRITEBYTECODE="1",
                           PYTHONPATH=links + os.pathsep + os.path.abspath(arguments.module_dir))
        walls = {name: [] for name, _, _ in ROADS}
        processors = {name: [] for name, _, _ in ROADS}
        merges = {name: [] for name, _, _ in ROADS}
        files = set()
        load_before = os.getloadavg()
        for round_number in range(arguments.rounds):
            for name, workers, partitions in ROADS:
                wall, processor, merge, data = run_road(
                    workers, partitions, corpus, os.path.join(scratch, "model.json"), environment)
                walls[name].append(wall)
                processors[name].append(processor)
                merges[name].append(merge)
                files.add(data)
                print("round %d: %-30s %.2f s, processor %.2f s (merge %.3f s)"
                      % (round_number + 1, name, wall, processor, merge), file=sys.stderr)
        load_after = os.getloadavg()
    if len(files) != 1:
        raise SystemExit("dask_scaling: the roads wrote different model files")

    print("Machine: %s" % machine())
    print("Load average (1, 5, 15 min): %.2f %.2f %.2f before, %.2f %.2f %.2f after"
          % (load_before + load_after))
    print("Corpus: %s%s, %d lines, %.1f MB; %d rounds, medians of wall time per fresh process"
          % (os.path.basename(arguments.corpus),
             " × %d" % arguments.repeat if arguments.repeat > 1 else "", lines,
             len(text.encode("utf-8")) / 1e6, arguments.rounds))
    print()
    plain = statistics.median(walls[ROADS[0][0]])
    print("| Road | Wall time | Range | vs one process | Processor time | Merge on the driver "
          "| Merge's share |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for name, workers, _ in ROADS:
        wall = statistics.median(walls[name])
        merge = statistics.median(merges[name])
        print("| %s | %.2f s | %.2f to %.2f s | %.2f | %.2f s | %s | %s |"
              % (name, wall, min(walls[name]), max(walls[name]), plain / wall,
                 statistics.median(processors[name]),
                 "%.0f ms" % (merge * 1000) if workers else "",
                 "%.1f %%" % (100 * merge / wall) if workers else ""))


if __name__ == "__main__":
    main()
