"""The report of a run: results.json (every round's pair of figures) and the
markdown table, one row per comparison in the order they are declared."""

import os
import platform
import subprocess


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


def build_report(comparisons, results, fixtures, rounds):
    rows = []
    for comparison in comparisons:
        ours, theirs = results.medians(comparison.key)
        ratio = results.ratio(comparison.key, comparison.kind)
        met = None
        if comparison.target is not None:
            met = ratio >= comparison.target if comparison.sense == "min" \
                else ratio <= comparison.target
        rows.append({"key": comparison.key, "what": comparison.label, "kind": comparison.kind,
                     "ours": ours, "theirs": theirs, "ratio": ratio,
                     "target": comparison.target, "sense": comparison.sense, "met": met,
                     "samples": results.samples[comparison.key]})
    return {
        "machine": machine(),
        "corpus": (f"{len(fixtures.lines)} lines, {fixtures.corpus_bytes / 1e6:.1f} MB, "
                   f"{fixtures.words} words ({fixtures.distinct} distinct)"),
        "rounds": rounds,
        "rows": rows,
    }


def quantity(value, kind):
    if kind == "per_token":
        return f"{value * 1e9:.1f} ns"
    if kind == "bytes":
        return f"{value:.1f} B"
    if kind == "size":
        return f"{value / 2**20:.1f} MiB"
    return f"{value * 1000:.0f} ms" if value < 10 else f"{value:.1f} s"


def table_lines(rows):
    """The table of rows, in the form the docs show; the model-file bench
    renders its rows with it too, so that they join this table."""
    out = ["| What | pyvornlex | Reference | Ratio | Target | Met |",
           "|---|---:|---:|---:|---:|:---:|"]
    for row in rows:
        target = "" if row["target"] is None else (
            ("≥ " if row["sense"] == "min" else "≤ ") + f"{row['target']:g}")
        met = {None: "", True: "yes", False: "**no**"}[row["met"]]
        out.append(f"| {row['what']} | {quantity(row['ours'], row['kind'])} | "
                   f"{quantity(row['theirs'], row['kind'])} | {row['ratio']:.2f} | {target} | "
                   f"{met} |")
    return out


def render_markdown(report, memory_rounds):
    out = [
        f"Machine: {report['machine']}.",
        "",
        f"Corpus: {report['corpus']}. Times are medians of {report['rounds']} interleaved "
        "rounds, in processor time of the measuring process (wall time for the thread "
        "rows and the first construction); each ratio is the median of the rounds' own "
        f"ratios. Memory: medians of {memory_rounds} fresh processes.",
        "",
    ]
    out += table_lines(report["rows"])
    out.append("")
    out.append("Ratios: throughput ratios are reference time / pyvornlex time (higher is "
               "better); time and memory ratios are pyvornlex / reference (lower is better).")
    return "\n".join(out) + "\n"
