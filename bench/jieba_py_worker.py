"""The pure-Python side of the segmentation benchmark: Debian's python3-jieba
(on the system Python) answering commands from standard input, so that the
benchmark can interleave its rounds with the other sides.

Usage: jieba_py_worker.py CORPUS
Commands, one a line; each answer is one line "seconds words" (processor
time of this process):
  lcut   jieba.lcut (HMM on) of every corpus line, results discarded
  road   lcut of every line, PureBM25.train on each word list, then
         encode_document of each
"""

import logging
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import jieba  # noqa: E402

from pure_bm25 import PureBM25  # noqa: E402


def lcut_all(lines):
    lcut = jieba.lcut
    words = 0
    start = time.process_time()
    for line in lines:
        words += len(lcut(line))
    return time.process_time() - start, words


def road(lines):
    lcut = jieba.lcut
    start = time.process_time()
    model = PureBM25()
    documents = []
    for line in lines:
        tokens = lcut(line)
        model.train(tokens)
        documents.append(tokens)
    for tokens in documents:
        model.encode_document(tokens)
    elapsed = time.process_time() - start
    return elapsed, sum(len(tokens) for tokens in documents)


def main():
    jieba.setLogLevel(logging.WARNING)
    with open(sys.argv[1], encoding="utf-8") as handle:
        lines = [line for line in handle.read().split("\n") if line]
    jieba.initialize()
    # The first cuts compile regular expressions and fill caches: keep them
    # out of the first round.
    for line in lines[:2000]:
        jieba.lcut(line)
    # One untimed road, as the module's side runs one: the rounds then
    # measure the work, not the first growth of the process's heap.
    road(lines)
    print("ready", len(lines), flush=True)
    for command in sys.stdin:
        command = command.strip()
        if command == "lcut":
            seconds, words = lcut_all(lines)
        elif command == "road":
            seconds, words = road(lines)
        elif command == "quit":
            break
        else:
            print("unknown command " + command, file=sys.stderr, flush=True)
            return 1
        print(seconds, words, flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
