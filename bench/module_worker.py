"""The module's side of the whole-road benchmark, in a process of its own
like the python3-jieba side, so that neither side's garbage collector walks
objects that the benchmark keeps for its other comparisons.

Usage: module_worker.py CORPUS (with pyvornlex on PYTHONPATH)
Commands, one a line; each answer is one line "seconds words" (processor
time of this process):
  road   Jieba.cut of every line, BM25.train on each word list, then
         encode_document of each
"""

import sys
import time

from pyvornlex import BM25, Jieba
from pyvornlex_data import dict_paths


def road(jieba, lines):
    cut = jieba.cut
    start = time.process_time()
    model = BM25()
    train = model.train
    documents = []
    for line in lines:
        tokens = cut(line)
        train(tokens)
        documents.append(tokens)
    encode = model.encode_document
    for tokens in documents:
        encode(tokens)
    elapsed = time.process_time() - start
    return elapsed, sum(len(tokens) for tokens in documents)


def main():
    with open(sys.argv[1], encoding="utf-8") as handle:
        lines = [line for line in handle.read().split("\n") if line]
    jieba = Jieba(*dict_paths())
    # One untimed road, as the other side runs one: the rounds then measure
    # the work, not the first growth of the process's heap.
    road(jieba, lines)
    print("ready", len(lines), flush=True)
    for command in sys.stdin:
        command = command.strip()
        if command == "road":
            seconds, words = road(jieba, lines)
        elif command == "quit":
            break
        else:
            print("unknown command " + command, file=sys.stderr, flush=True)
            return 1
        print(seconds, words, flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
