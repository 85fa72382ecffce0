"""Map and merge: train shards of a corpus in parallel worker processes, merge
their model files into one, and encode with the merged model.

Each worker trains a BM25 on its shard and dumps it (map); the installed
pyvornlex_merge adds the shards' counts up into one file (reduce); any process
then loads that file. The same three steps run on a cluster engine: see
dask_training.py and docs/scaling-out.md.
"""

import os
import random
import tempfile
from concurrent.futures import ProcessPoolExecutor

from pyvornlex import BM25
from pyvornlex_merge import merge_files

WORKERS = 3
VOCABULARY = ["tea", "lake", "hangzhou", "beijing", "search", "engine", "word", "spring",
              "boat", "hill", "water", "peach", "farmer", "index", "query", "vector"]


def make_corpus(documents, seed=7):
    """A reproducible corpus of short documents with a skewed vocabulary."""
    rng = random.Random(seed)
    weights = [1.0 / (rank + 1) for rank in range(len(VOCABULARY))]
    return [rng.choices(VOCABULARY, weights, k=rng.randint(3, 12)) for _ in range(documents)]


def train_shard(shard, path):
    """The map step, run in a worker process: one model per shard, dumped."""
    model = BM25()
    for tokens in shard:
        model.train(tokens)
    model.dump(path)
    return path


def main():
    corpus = make_corpus(3000)
    shards = [corpus[i::WORKERS] for i in range(WORKERS)]
    with tempfile.TemporaryDirectory() as directory:
        paths = [os.path.join(directory, "shard%d.json" % i) for i in range(WORKERS)]
        with ProcessPoolExecutor(max_workers=WORKERS) as pool:
            list(pool.map(train_shard, shards, paths))
        merged_path = os.path.join(directory, "merged.json")
        merge_files(merged_path, paths)
        with open(merged_path, encoding="utf-8") as file:
            merged = BM25()
            merged.load(file.read())

    whole = BM25()
    for tokens in corpus:
        whole.train(tokens)

    query = ["lake", "peach", "vector"]
    document = corpus[0]
    # Query weights rest on counts only, which add up exactly; document
    # weights also use the average length, which the file keeps to six
    # decimals (a weight moves by at most a quarter of the average's relative
    # change).
    assert merged.encode_query(query) == whole.encode_query(query)
    for token, weight in whole.encode_document(document).items():
        assert abs(merged.encode_document(document)[token] - weight) < 2e-7
    print(f"{len(corpus)} documents trained in {WORKERS} worker processes and merged")
    print("query vector:", merged.encode_query(query))
    print("document 0:", merged.encode_document(document))


if __name__ == "__main__":
    main()
