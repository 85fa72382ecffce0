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
from worker_loop import read_corpus, serve  # noqa: E402


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
    lines = read_corpus(sys.argv[1])
    jieba.initialize()
    # The first cuts compile regular expressions and fill caches: keep them
    # out of the first round.
    for line in lines[:2000]:
        jieba.lcut(line)
    # One untimed road, as the module's side runs one: the rounds then
    # measure the work, not the first growth of the process's heap.
    road(lines)
    return serve(lines, {"lcut": lambda: lcut_all(lines), "road": lambda: road(lines)})


if __name__ == "__main__":
    sys.exit(main())
