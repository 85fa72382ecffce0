"""One measurement of the benchmarks in a fresh process, as a service meets
the operation when it starts: nothing that an earlier operation allocated
and freed is there to be reused. Prints numbers on one line.

  probe.py load MODEL            seconds, peak memory growth of BM25.load
  probe.py json_loads MODEL      seconds, peak memory growth of json.loads
  probe.py dump DOCS OUT         seconds of BM25.dump of a model trained on the documents
  probe.py train DOCS            seconds, resident bytes of the trained model
  probe.py encode MODEL DOCS     seconds of encode_document over the documents
  probe.py model DOCS            resident bytes of a BM25 trained on the documents, read line by line
  probe.py dict DOCS             resident bytes of a dict token -> count of the same, read alike
  probe.py touch MIB             seconds to write first to MIB mebibytes of fresh memory, on
                                 huge pages as the model's table asks for them

MODEL is a model file's text; DOCS holds one document a line, tokens
separated by blanks. Times are processor time of the call; peaks are the
kernel's high-water mark of resident memory, reset once the input has been
read, so that the growth is what the call itself needs.
"""

import gc
import json
import mmap
import sys
import time
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


def read_text(path):
    with open(path, encoding="utf-8") as handle:
        return handle.read()


def read_documents(path):
    with open(path, encoding="utf-8") as handle:
        return [line.split() for line in handle]


def count_lines(path, mode):
    model, table = BM25(), {}
    with open(path, encoding="utf-8") as handle:
        for line in handle:
            tokens = line.split()
            if mode == "model":
                model.train(tokens)
            else:
                for token, count in Counter(tokens).items():
                    table[token] = table.get(token, 0) + count
    return model if mode == "model" else table


def timed(function):
    """Seconds of the call, and its result, which is freed after the clock
    stopped: freeing is not part of the operation."""
    start = time.process_time()
    result = function()
    return time.process_time() - start, result


def encode_all(model, documents):
    """Each result is dropped at once, as a caller that feeds it on would."""
    for document in documents:
        model.encode_document(document)


def train_all(model, documents):
    for document in documents:
        model.train(document)


def trained(path):
    """Seconds of training, and the model trained on the documents of the
    file. Documents arrive in chunks, as from a stream: a list of every
    document would make the input itself grow with the vocabulary, and time
    the caches' misses on millions of str objects, not training."""
    model = BM25()
    seconds = 0.0
    with open(path, encoding="utf-8") as handle:
        for chunk in iter(lambda: handle.readlines(1 << 20), []):
            documents = [line.split() for line in chunk]
            seconds += timed(lambda: train_all(model, documents))[0]
            del documents
    return seconds, model


def loaded(text):
    model = BM25()
    model.load(text)
    return model


def touch(mebibytes):
    size = mebibytes << 20
    block = mmap.mmap(-1, size, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS)
    block.madvise(mmap.MADV_HUGEPAGE)
    for offset in range(0, size, mmap.PAGESIZE):
        block[offset] = 1
    block.close()


def main():
    mode, arguments = sys.argv[1], sys.argv[2:]
    if mode in ("load", "json_loads"):
        text = read_text(arguments[0])
        before = reset_peak()
        seconds, result = timed((lambda: loaded(text)) if mode == "load" else
                                (lambda: json.loads(text)))
        print(seconds, peak_since(before))
        del result
    elif mode == "dump":
        model = trained(arguments[0])[1]
        gc.collect()
        print(timed(lambda: model.dump(arguments[1]))[0])
    elif mode == "train":
        before = resident()
        seconds, model = trained(arguments[0])
        print(seconds, resident() - before)
    elif mode in ("model", "dict"):
        # Read line by line, so that the dict's figure holds its key objects
        # and the model's holds nothing of Python's.
        before = resident()
        held = count_lines(arguments[0], mode)
        print(resident() - before)
        del held
    elif mode == "encode":
        model = loaded(read_text(arguments[0]))
        documents = read_documents(arguments[1])
        gc.collect()
        print(timed(lambda: encode_all(model, documents))[0])
    elif mode == "touch":
        print(timed(lambda: touch(int(arguments[0])))[0])
    else:
        raise SystemExit("unknown mode " + mode)


if __name__ == "__main__":
    main()
