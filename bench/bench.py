"""Runs every comparison of the performance benchmark in one process, in
interleaved rounds, and writes the table of medians.

Usage (bench/run.sh passes all of these):
  bench.py --jieba-bench EXE --corpus FILE --out DIR --system-python PY [--rounds N]

The module under test is the pyvornlex on PYTHONPATH. The comparisons are
declared in comparisons.py; each runs both of its sides back to back in
every round, on the same core, the side that goes first alternating, and
reports the median of the rounds. Results are discarded inside timed loops,
as a caller that feeds them on would.
"""

import argparse
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from comparisons import COMPARISONS  # noqa: E402
from fixtures import Fixtures, log  # noqa: E402
from report import build_report, render_markdown  # noqa: E402
from rounds import Results, measure  # noqa: E402

# Fresh processes give steady figures; three of each are enough.
MAX_MEMORY_ROUNDS = 3


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--jieba-bench", required=True)
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--system-python", required=True)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    fixtures = Fixtures(args)
    results = Results()
    in_rounds = [c for c in COMPARISONS if not c.fresh_processes]
    for number in range(args.rounds):
        log(f"round {number + 1} of {args.rounds}")
        for comparison in in_rounds:
            measure(results, comparison, fixtures, number)
    fixtures.release_rounds()

    log("memory, in fresh processes")
    memory_rounds = max(1, min(MAX_MEMORY_ROUNDS, args.rounds))
    for number in range(memory_rounds):
        for comparison in COMPARISONS:
            if comparison.fresh_processes:
                measure(results, comparison, fixtures, number)

    report = build_report(COMPARISONS, results, fixtures, args.rounds)
    with open(os.path.join(args.out, "results.json"), "w", encoding="utf-8") as handle:
        json.dump(report, handle, indent=1, ensure_ascii=False)
    markdown = render_markdown(report, memory_rounds)
    with open(os.path.join(args.out, "results.md"), "w", encoding="utf-8") as handle:
        handle.write(markdown)
    print(markdown)
    return 0 if all(row["met"] is not False for row in report["rows"]) else 1


if __name__ == "__main__":
    sys.exit(main())
