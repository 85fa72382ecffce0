"""How the benchmark times things: processor or wall time, worker processes
that answer timed commands, the core every single-thread side runs on, and
the samples of the interleaved rounds."""

import gc
import os
import statistics
import subprocess
import time


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


class Results:
    """Every round's pair of figures (ours, the reference's), by comparison."""

    def __init__(self):
        self.samples = {}

    def add(self, key, ours, theirs):
        self.samples.setdefault(key, []).append((ours, theirs))

    def medians(self, key):
        pairs = self.samples[key]
        return (statistics.median(p[0] for p in pairs), statistics.median(p[1] for p in pairs))

    def ratio(self, key, kind):
        """The median of the rounds' own ratios: the two sides of a round ran
        back to back, so a slow spell of the machine weighs on both."""
        if kind == "speed":
            return statistics.median(theirs / ours for ours, theirs in self.samples[key])
        return statistics.median(ours / theirs for ours, theirs in self.samples[key])


def measure(results, comparison, fixtures, round_number):
    """One round of a comparison: both sides back to back, the side that goes
    first alternating by round, or the pair that its own processes report."""
    if comparison.pair is not None:
        results.add(comparison.key, *comparison.pair(fixtures, round_number))
        return
    if round_number % 2 == 0:
        ours = comparison.ours(fixtures)
        theirs = comparison.theirs(fixtures)
    else:
        theirs = comparison.theirs(fixtures)
        ours = comparison.ours(fixtures)
    results.add(comparison.key, ours, theirs)
