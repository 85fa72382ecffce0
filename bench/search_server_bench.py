"""Figures of the search server and of `search DB -` on a corpus (one
document per line): latency of /search under concurrent clients against
`SearchIndex.search` alone, and the throughput of queries read from standard
input by a fresh process.

    PYTHONPATH=build/python python3.10 bench/search_server_bench.py CORPUS

The bench corpus comes from `bash bench/corpus.sh DIR` (DIR/corpus.txt).
Queries are six distinct words of one random document, drawn with a fixed
seed as bench/sqlite_search_bench.py draws them. The lone figure times
`search(query, 10)` on an open index in this process after a few warm-up
queries. The server is started as a user starts it (`serve DB --port 0`, a
fresh process), once with each number of worker processes asked for
(--workers, default 1 and 2), and is sent the same queries on 127.0.0.1: by
one client, then by 8 client processes at once, each on one kept-alive
connection, each sending its next query as soon as the answer to the last has
come (the target's case: the server is never idle), then by the same 8 clients
each at a steady rate that adds up to half of what one client got through (a
concurrent load that does not saturate the server). A request is timed from
sending it to having read the whole answer. The processor time of the server
(its workers included) and of the whole machine over each run tell how many
cores the server used and how many the machine had left. `search DB -` is
timed from starting the process to its exit (interpreter, segmenter and model
included) on 1,000 queries. The p95 target is judged on the first number of
workers, with the 8 clients that never wait.
"""

from __future__ import annotations

import argparse
import http.client
import json
import multiprocessing
import os
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
from urllib.parse import quote, urlsplit

from pyvornlex import Jieba
from pyvornlex_data import dict_paths
from pyvornlex_search import SearchIndex, build_index
from sqlite_search_bench import draw_queries, load_average, machine_line, percentile

TOP = 10
CLIENTS = 8
TARGETS = {"p95 ratio": 3.0, "queries/s": 100.0}


def milliseconds(values: list[float]) -> str:
    return (f"p50 {percentile(values, 0.5):.2f} ms, p95 {percentile(values, 0.95):.2f} ms, "
            f"max {max(values):.2f} ms")


def server_cpu_seconds(pid: int) -> float:
    """Processor time of the server and its workers (alive ones, and those
    it has waited for)."""
    total = 0
    for process in [pid] + children(pid):
        with open(f"/proc/{process}/stat", encoding="ascii") as handle:
            fields = handle.read().rsplit(")", 1)[1].split()
        total += sum(int(field) for field in fields[11:15])
    return total / os.sysconf("SC_CLK_TCK")


def children(pid: int) -> list[int]:
    with open(f"/proc/{pid}/task/{pid}/children", encoding="ascii") as handle:
        return [int(child) for child in handle.read().split()]


def machine_busy() -> tuple[float, float]:
    """Seconds of processor time spent and idle, all cores together, since boot."""
    with open("/proc/stat", encoding="ascii") as handle:
        fields = [int(field) for field in handle.readline().split()[1:]]
    idle = fields[3] + fields[4]
    return (sum(fields) - idle) / os.sysconf("SC_CLK_TCK"), idle / os.sysconf("SC_CLK_TCK")


def client(port: int, queries: list[str], start: float, interval: float) -> list[float]:
    """One client on one connection: each query once the answer to the one
    before has come (and, with an interval, not before its turn); the latency
    of each, in ms."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
    time.sleep(max(0.0, start - time.time()))
    begun = time.perf_counter()
    latencies = []
    for turn, query in enumerate(queries):
        time.sleep(max(0.0, begun + turn * interval - time.perf_counter()))
        moment = time.perf_counter()
        connection.request("GET", f"/search?q={quote(query)}&k={TOP}")
        response = connection.getresponse()
        body = response.read()
        latencies.append(1000 * (time.perf_counter() - moment))
        if response.status != 200:
            raise RuntimeError(f"{response.status}: {body[:200]!r}")
    connection.close()
    return latencies


class Run:
    """Every request's latency (ms), and the server's and the machine's use of the cores."""

    def __init__(self, pool: multiprocessing.pool.Pool, port: int, pid: int,
                 queries: list[str], clients: int, rounds: int, interval: float = 0.0) -> None:
        work = [[queries[(n * 37 + step) % len(queries)] for step in range(rounds)]
                for n in range(clients)]
        start = time.time() + 0.5
        time.sleep(0.4)
        cpu, (busy, idle) = server_cpu_seconds(pid), machine_busy()
        wall = time.perf_counter()
        # Paced clients start a fraction of the interval apart, as independent ones would.
        results = pool.starmap(client, [(port, each, start + n * interval / clients, interval)
                                        for n, each in enumerate(work)])
        self.wall = time.perf_counter() - wall - 0.1
        self.server_cores = (server_cpu_seconds(pid) - cpu) / self.wall
        busy_now, idle_now = machine_busy()
        self.machine_busy = (busy_now - busy) / (busy_now - busy + idle_now - idle)
        self.latencies = [latency for latencies in results for latency in latencies]

    def line(self, what: str) -> str:
        return (f"{what}, {len(self.latencies)} requests: {milliseconds(self.latencies)}; "
                f"{len(self.latencies) / self.wall:.0f} requests/s; the server used "
                f"{self.server_cores:.2f} cores, the machine was {100 * self.machine_busy:.0f}% "
                "busy")


def start_server(database: str, workers: int) -> tuple[subprocess.Popen[str], int]:
    process = subprocess.Popen([sys.executable, "-m", "pyvornlex_search", "serve", database,
                                "--port", "0", "--workers", str(workers)],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    assert process.stdout is not None
    url = process.stdout.readline().strip()
    port = urlsplit(url).port
    if port is None:
        raise RuntimeError("the server did not start")
    return process, port


def stdin_run(database: str, queries: list[str]) -> tuple[float, float, int]:
    """Wall time of `search --json DB -` from start to exit, from its first
    answer to its last, and the number of answers."""
    moment = time.perf_counter()
    process = subprocess.Popen(
        [sys.executable, "-m", "pyvornlex_search", "search", "--json", database, "-"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    assert process.stdin is not None and process.stdout is not None
    process.stdin.write("".join(query + "\n" for query in queries).encode("utf-8"))
    process.stdin.close()
    first = None
    answers = 0
    for line in process.stdout:
        if first is None:
            first = time.perf_counter()
        answers += "hits" in json.loads(line)
    process.wait()
    end = time.perf_counter()
    return end - moment, end - (first or end), answers


def server_run(database: str, queries: list[str], workers: int, lone: list[float],
               requests: int) -> float:
    """Prints the figures of one server; returns p95 with all the clients / p95 alone."""
    process, port = start_server(database, workers)
    try:
        with multiprocessing.get_context("fork").Pool(CLIENTS) as pool:
            Run(pool, port, process.pid, queries, CLIENTS, 10)  # warm-up
            single = Run(pool, port, process.pid, queries, 1, 2 * requests)
            print(single.line(f"/search, {workers} worker(s), 1 client"))
            run = Run(pool, port, process.pid, queries, CLIENTS, requests)
            many = run.latencies
            print(run.line(f"/search, {workers} worker(s), {CLIENTS} clients at once"))
            # The same clients, each sending at a steady rate that adds up to
            # half of what one client got through: concurrent, not saturating.
            rate = len(single.latencies) / single.wall / 2
            paced = Run(pool, port, process.pid, queries, CLIENTS, requests // 2,
                        interval=CLIENTS / rate)
            print(paced.line(f"/search, {workers} worker(s), {CLIENTS} clients each sending "
                             f"{rate / CLIENTS:.0f} queries/s"))
            print(f"  p95 paced / p95 alone: "
                  f"{percentile(paced.latencies, 0.95) / percentile(lone, 0.95):.2f}")
    finally:
        process.send_signal(signal.SIGINT)
        process.wait()
    ratio = percentile(many, 0.95) / percentile(lone, 0.95)
    print(f"  p95 with {CLIENTS} clients / p95 alone: {ratio:.2f} (target <= "
          f"{TARGETS['p95 ratio']:.0f})")
    return ratio


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("corpus")
    parser.add_argument("--requests", type=int, default=100, help="requests of each client")
    parser.add_argument("--workers", type=int, nargs="+", default=[1, 2],
                        help="server runs with these numbers of worker processes")
    arguments = parser.parse_args()

    print(f"Machine: {machine_line()}")
    print(f"Load average at start: {load_average()}")
    jieba = Jieba(*dict_paths())
    with tempfile.TemporaryDirectory(prefix="search-server-bench-") as folder:
        database = os.path.join(folder, "corpus.db")
        report = build_index(arguments.corpus, database, jieba=jieba)
        print(f"Corpus: {arguments.corpus}: {report.documents} documents, "
              f"{report.postings} postings")
        with SearchIndex(database, jieba=jieba) as index:
            texts = [row[0] for row in sqlite3.connect(database).execute(
                "SELECT text FROM document ORDER BY id")]
            documents = [index.words(text) for text in texts]
            queries = draw_queries(documents, 500, seed=17)["document"]
            for warm in draw_queries(documents, 20, seed=18)["document"]:
                index.search(warm, TOP)
            lone = []
            for query in queries:
                moment = time.perf_counter()
                index.search(query, TOP)
                lone.append(1000 * (time.perf_counter() - moment))
        print(f"SearchIndex.search alone, {len(queries)} queries of six words, top {TOP}: "
              f"{milliseconds(lone)}")

        ratios = {}
        for workers in arguments.workers:
            ratios[workers] = server_run(database, queries, workers, lone, arguments.requests)
        stdin_queries = (queries * 2)[:1000]
        total, steady, answered = stdin_run(database, stdin_queries)
        print(f"search --json DB -, {len(stdin_queries)} queries ({answered} answered): "
              f"{total:.2f} s from start to exit, {len(stdin_queries) / total:.0f} queries/s "
              f"({steady:.2f} s from the first answer to the last: "
              f"{len(stdin_queries) / steady:.0f} queries/s)")
    print(f"Load average at end: {load_average()}")
    ratio = ratios[arguments.workers[0]]
    met = {"p95 ratio": ratio <= TARGETS["p95 ratio"],
           "queries/s": len(stdin_queries) / total >= TARGETS["queries/s"],
           "answered": answered == len(stdin_queries)}
    print("Targets: " + ", ".join(f"{name} {'met' if ok else 'MISSED'}" for name, ok in met.items()))
    return 0 if all(met.values()) else 1


if __name__ == "__main__":
    sys.exit(main())
