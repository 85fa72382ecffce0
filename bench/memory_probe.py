"""Memory of one operation, measured in a fresh process so that nothing else
the benchmark did is counted. Prints one number: bytes.

  memory_probe.py model TOKENS            resident memory of a trained BM25
  memory_probe.py dict TOKENS             resident memory of a dict token -> count
  memory_probe.py dump TOKENS PATH        peak memory of BM25.dump
  memory_probe.py json_dumps TOKENS PATH  peak memory of json.dumps written to a file
  memory_probe.py load PATH               peak memory of BM25.load of the file's text
  memory_probe.py json_loads PATH         peak memory of json.loads of the file's text

TOKENS holds one document a line, tokens separated by blanks. Peaks are taken
from the kernel's high-water mark of resident memory, reset just before the
operation.
"""

import gc
import json
import sys
from collections import Counter

from pyvornlex import BM25


def status_kib(field):
    with open("/proc/self/status", encoding="ascii") as handle:
        for line in handle:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(field + " not found")


def resident():
    gc.collect()
    return status_kib("VmRSS") * 1024


def reset_peak():
    gc.collect()
    with open("/proc/self/clear_refs", "w", encoding="ascii") as handle:
        handle.write("5")
    return status_kib("VmRSS") * 1024


def peak_since(before):
    return status_kib("VmHWM") * 1024 - before


def documents(path):
    with open(path, encoding="utf-8") as handle:
        for line in handle:
            yield line.split()


def trained_model(path):
    model = BM25()
    for tokens in documents(path):
        model.train(tokens)
    return model


def counted_dict(path):
    table = {}
    for tokens in documents(path):
        for token, count in Counter(tokens).items():
            table[token] = table.get(token, 0) + count
    return table


def python_document(path):
    model = trained_model(path)  # only for the scalar members
    table = counted_dict(path)
    return {"_b": model.b(), "_doc_count": 0, "_doc_length_average": 0.0,
            "_doc_token_frequency": table, "_k1": model.k1()}


def read_text(path):
    with open(path, encoding="utf-8") as handle:
        return handle.read()


def main():
    mode, arguments = sys.argv[1], sys.argv[2:]
    if mode in ("model", "dict"):
        before = resident()
        held = trained_model(arguments[0]) if mode == "model" else counted_dict(arguments[0])
        print(resident() - before)
        del held
    elif mode == "dump":
        model = trained_model(arguments[0])
        before = reset_peak()
        model.dump(arguments[1])
        print(peak_since(before))
    elif mode == "json_dumps":
        document = python_document(arguments[0])
        before = reset_peak()
        with open(arguments[1], "w", encoding="utf-8") as handle:
            handle.write(json.dumps(document))
        print(peak_since(before))
    elif mode == "load":
        text = read_text(arguments[0])
        before = reset_peak()
        model = BM25()
        model.load(text)
        print(peak_since(before))
    elif mode == "json_loads":
        text = read_text(arguments[0])
        before = reset_peak()
        document = json.loads(text)
        print(peak_since(before))
        del document
    else:
        raise SystemExit("unknown mode " + mode)


if __name__ == "__main__":
    main()
