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
from worker_loop import read_corpus, serve


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
    lines = read_corpus(sys.argv[1])
    jieba = Jieba(*dict_paths())
    # One untimed road, as the other side runs one: the rounds then measure
    # the work, not the first growth of the process's heap.
    road(jieba, lines)
    return serve(lines, {"road": lambda: road(jieba, lines)})


if __name__ == "__main__":
    sys.exit(main())
