"""Draws the benchmark's ratios against their targets as a PNG.

Usage: chart.py OUTPUT_PNG RESULTS_JSON... (runs on the system Python with
Debian's python3-matplotlib). The rows of every results file are drawn in
order; the machine line is the first file's.

Each bar is the ratio divided by its target, turned so that longer is better
for every row: 1.0 is the target, and a bar that reaches past it meets it.
"""

import json
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def main():
    reports = []
    for path in sys.argv[2:]:
        with open(path, encoding="utf-8") as handle:
            reports.append(json.load(handle))
    rows = [row for report in reports for row in report["rows"] if row["target"] is not None]
    labels, scores, notes, colours = [], [], [], []
    for row in rows:
        score = row["ratio"] / row["target"] if row["sense"] == "min" else row["target"] / row["ratio"]
        labels.append(row["what"].replace("`", ""))
        scores.append(score)
        sign = "≥" if row["sense"] == "min" else "≤"
        notes.append(f"{row['ratio']:.2f} (target {sign} {row['target']:g})")
        colours.append("#2e7d32" if row["met"] else "#c62828")

    figure, axes = plt.subplots(figsize=(11, 0.45 * len(rows) + 1.6))
    positions = range(len(rows))[::-1]
    axes.barh(list(positions), scores, color=colours)
    axes.axvline(1.0, color="black", linewidth=1)
    for position, score, note in zip(positions, scores, notes):
        axes.text(score + 0.02, position, note, va="center", fontsize=8)
    axes.set_yticks(list(positions))
    axes.set_yticklabels(labels, fontsize=8)
    axes.set_xlim(0, max(scores) * 1.35)
    axes.set_xlabel("ratio / target, oriented so that past 1.0 meets the target")
    axes.set_title("pyvornlex benchmark: ratios against their targets", fontsize=10)
    figure.text(0.01, 0.01, reports[0]["machine"], fontsize=6)
    figure.tight_layout(rect=(0, 0.03, 1, 1))
    figure.savefig(sys.argv[1], dpi=90)


if __name__ == "__main__":
    main()
