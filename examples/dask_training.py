"""Training BM25 on Dask: one model per partition in the workers, merged on
the driver into the model of the whole corpus.

    python dask_training.py CORPUS [-o model.json] [--workers 2] [--partitions N]
                            [--scheduler tcp://host:8786] [--verify | --no-verify]

CORPUS is a folder of text files or one text file (UTF-8); every non-empty
line is a document. Each Dask task builds a Jieba and a BM25 (neither can be
pickled, so both are made where they are used), cuts and trains the lines of
its partition and returns the model's file text. The driver merges the texts
with pyvornlex_merge (for more partitions than --fan-in, the workers merge
groups first: a tree) and writes the model file. Then it trains the corpus
again in one process and checks that both files are equal byte for byte,
which they must be for corpora of at most a million documents; it says when
it does not check (--no-verify, or a larger corpus without --verify).

By default the tasks run on Dask's `processes` scheduler (--workers local
processes). With --scheduler the same file runs on a dask.distributed
cluster: every worker needs pyvornlex installed (the wheel) and the corpus at
the same path. Without arguments it trains a small corpus of its own on two
worker processes and checks the result.

Under Python 3.10 on Debian, where Dask comes from python3-dask (packaged
for Debian's Python 3.11), the example makes Dask's pure-Python packages
importable itself (scripts/debian_dask.py); see docs/scaling-out.md.
"""

import argparse
import collections
import math
import os
import random
import re
import socket
import sys
import tempfile
import time

FAN_IN = 8
# Up to this many documents in every partition and merge, the merged file is
# byte for byte the one of one process's training (docs/model-file.md, "What
# is exact and what rounds"); a corpus this small has no larger partition.
EXACT_DOCUMENTS = 1_000_000


def documents(lines, jieba):
    """The token lists of a partition's lines, as both roads train them."""
    for line in lines:
        text = line.rstrip("\n")
        if text:
            tokens = jieba.cut(text)
            if tokens:
                yield tokens


def train_partition(lines):
    """The map step, in a worker: a partition's model as its file's bytes,
    with the worker that trained it."""
    from pyvornlex import BM25, Jieba
    from pyvornlex_data import dict_paths
    from pyvornlex_merge import model_bytes

    jieba, model = Jieba(*dict_paths()), BM25()
    for tokens in documents(lines, jieba):
        model.train(tokens)
    return [({(socket.gethostname(), os.getpid())}, model_bytes(model))]


def merge_partitions(parts):
    """An inner node of the merge tree, in a worker."""
    from pyvornlex_merge import merge_texts

    pairs = [pair for part in parts for pair in part]
    return [(set().union(*(workers for workers, _ in pairs)),
             merge_texts([text for _, text in pairs]))]


def corpus_files(corpus):
    if os.path.isdir(corpus):
        files = sorted(os.path.join(corpus, name) for name in os.listdir(corpus)
                       if not name.startswith(".") and os.path.isfile(os.path.join(corpus, name)))
        if not files:
            raise SystemExit("dask_training: %s holds no text files" % corpus)
        return files
    if os.path.isfile(corpus):
        return [corpus]
    raise SystemExit("dask_training: no such file or folder: %s" % corpus)


def corpus_bag(corpus, partitions):
    """The corpus's lines in about `partitions` partitions, read by the workers."""
    import dask.bag

    files = corpus_files(corpus)
    if len(files) > 1:
        per_partition = math.ceil(len(files) / partitions)
        return dask.bag.read_text(files, encoding="utf-8", files_per_partition=per_partition)
    size = max(1, os.path.getsize(files[0]))
    return dask.bag.read_text(files[0], encoding="utf-8",
                              blocksize=max(1, math.ceil(size / partitions)))


DaskRun = collections.namedtuple("DaskRun",
                                 "merged partitions workers map_seconds merge_seconds")


def train_with_dask(corpus, partitions, fan_in=FAN_IN, **compute_options):
    """The merged model file's bytes, the number of partitions and of the
    worker processes that trained them, and the seconds of the map (with the
    inner merges of the tree) and of the driver's merge."""
    import dask

    from pyvornlex_merge import merge_texts

    started = time.perf_counter()
    level = corpus_bag(corpus, partitions).map_partitions(train_partition).to_delayed()
    partitions = len(level)
    while len(level) > fan_in:
        level = [dask.delayed(merge_partitions)(level[start:start + fan_in])
                 for start in range(0, len(level), fan_in)]
    pairs = [pair for part in dask.compute(*level, **compute_options) for pair in part]
    mapped = time.perf_counter()
    merged = merge_texts([text for _, text in pairs])
    workers = len(set().union(*(workers for workers, _ in pairs)))
    return DaskRun(merged, partitions, workers, mapped - started, time.perf_counter() - mapped)


def train_in_one_process(corpus):
    """The same training without Dask: the reference for the check."""
    from pyvornlex import BM25, Jieba
    from pyvornlex_data import dict_paths
    from pyvornlex_merge import model_bytes

    jieba, model = Jieba(*dict_paths()), BM25()
    for path in corpus_files(corpus):
        # Universal newlines, as Dask's read_text splits lines.
        with open(path, encoding="utf-8") as handle:
            for tokens in documents(handle, jieba):
                model.train(tokens)
    return model_bytes(model)


def make_dask_importable():
    """Imports Dask, or links Debian's python3-dask for this run (the links
    last as long as the returned object); exits with instructions if neither
    works."""
    try:
        import dask  # noqa: F401
        return None
    except ImportError:
        pass
    scripts = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "scripts")
    if os.path.isfile(os.path.join(scripts, "debian_dask.py")):
        sys.path.insert(0, scripts)
        import debian_dask

        links = tempfile.TemporaryDirectory(prefix="pyvornlex-dask-")
        try:
            # Spawned worker processes start with the driver's sys.path.
            sys.path.insert(0, debian_dask.link_dask(links.name))
            import dask  # noqa: F401,F811
            return links
        except (OSError, ImportError):
            links.cleanup()
    raise SystemExit(
        "dask_training: this Python cannot import Dask.\n"
        "  On Debian: apt-get install --no-install-recommends python3-dask (bash\n"
        "  scripts/setup.sh does), then run this file from the pyvornlex checkout: it links\n"
        "  Dask's pure-Python packages itself (scripts/debian_dask.py; docs/scaling-out.md).\n"
        "  Elsewhere: python -m pip install \"dask[distributed]\".")


def compute_options(arguments):
    if arguments.scheduler is None:
        # chunksize 1: by default the scheduler hands up to six ready tasks
        # to one worker at once, and a few long tasks would share one process.
        return {"scheduler": "processes", "num_workers": arguments.workers, "chunksize": 1}
    try:
        from dask.distributed import Client
    except ImportError:
        raise SystemExit("dask_training: --scheduler needs dask.distributed, which this "
                         "Python cannot import (python -m pip install distributed)") from None
    # A connected client becomes Dask's default scheduler.
    arguments.client = Client(arguments.scheduler)
    return {}


def verification(doc_count, requested):
    """Whether to check the merged file against one process's training
    (`requested` is --verify, --no-verify or None), and if not, the line that
    says why."""
    if requested is None and doc_count > EXACT_DOCUMENTS:
        return False, ("not verified: %d documents, more than the %d up to which the merged "
                       "file must equal one process's byte for byte (--verify compares anyway)"
                       % (doc_count, EXACT_DOCUMENTS))
    if requested is False:
        return False, "not verified (--no-verify)"
    return True, None


def run(arguments):
    from pyvornlex_merge import write_model

    corpus = arguments.corpus
    options = compute_options(arguments)
    started = time.perf_counter()
    dask_run = train_with_dask(corpus, arguments.partitions or arguments.workers,
                               arguments.fan_in, **options)
    merged = dask_run.merged
    write_model(arguments.output, merged)
    total = time.perf_counter() - started
    doc_count = int(re.search(rb'"_doc_count" : (-?[0-9]+)', merged).group(1))
    print("%s: %d documents in %d partitions trained by %d worker processes (%s), "
          "written to %s" % (corpus, doc_count, dask_run.partitions, dask_run.workers,
                             arguments.scheduler or "%d local" % arguments.workers,
                             arguments.output))
    print("seconds: total %.3f, map %.3f, merge on the driver %.3f"
          % (total, dask_run.map_seconds, dask_run.merge_seconds))
    verify, why_not = verification(doc_count, arguments.verify)
    if not verify:
        print(why_not)
        return 0
    print("verifying: training the corpus again in one process", flush=True)
    if merged != train_in_one_process(corpus):
        print("dask_training: the merged model differs from one process's training%s"
              % (" (above %d documents the average may differ in its last decimal)"
                 % EXACT_DOCUMENTS if doc_count > EXACT_DOCUMENTS else ""), file=sys.stderr)
        return 1
    print("verified: equal byte for byte to the model file of one process's training")
    return 0


SENTENCES = ["杭州的龙井茶很有名", "北京的冬天很冷", "西湖在杭州城西", "我来到北京清华大学",
             "他来到了网易杭研大厦", "小明硕士毕业于中国科学院计算所", "南京市长江大桥",
             "今天天气不错，我们去西湖划船。", "搜索引擎把文档切成词再建立索引",
             "BM25 是一种经典的检索模型", "Tab\tand \"quotes\" and back\\slashes"]


def self_check():
    """A small corpus of its own in three files, two worker processes, three
    partitions merged as a tree of fan-in 2, checked against one process."""
    rng = random.Random(15)
    with tempfile.TemporaryDirectory(prefix="dask-training-") as directory:
        corpus = os.path.join(directory, "corpus")
        os.mkdir(corpus)
        for number in range(3):
            with open(os.path.join(corpus, "part%d.txt" % number), "w", encoding="utf-8",
                      newline="") as handle:
                for _ in range(150):
                    handle.write("".join(rng.choices(SENTENCES, k=rng.randint(1, 4))) + "\n")
                handle.write("\n尾行没有换行符" if number == 2 else "\r\n")
        arguments = parse(["--workers", "2", "--partitions", "3", "--fan-in", "2", "--verify",
                           "--output", os.path.join(directory, "model.json"), corpus])
        return run(arguments)


def parse(argv):
    parser = argparse.ArgumentParser(
        prog="dask_training.py",
        description="Train a BM25 model on Dask and merge the partitions' models.")
    parser.add_argument("corpus", metavar="CORPUS",
                        help="a folder of text files or one text file; a line is a document")
    parser.add_argument("-o", "--output", default="model.json", help="the model file to write")
    parser.add_argument("--workers", type=int, default=2,
                        help="worker processes of the local scheduler (default 2)")
    parser.add_argument("--partitions", type=int,
                        help="partitions of the corpus (default: one per worker)")
    parser.add_argument("--fan-in", type=int, default=FAN_IN,
                        help="texts merged by one node of the merge tree (default %d)" % FAN_IN)
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="a dask.distributed scheduler, such as tcp://host:8786")
    parser.add_argument("--verify", action=argparse.BooleanOptionalAction,
                        help="check against one process's training (default: corpora of at "
                             "most %d documents)" % EXACT_DOCUMENTS)
    arguments = parser.parse_args(argv)
    if arguments.workers < 1 or arguments.fan_in < 2 or (arguments.partitions or 1) < 1:
        parser.error("--workers and --partitions must be at least 1, --fan-in at least 2")
    return arguments


def main(argv):
    links = make_dask_importable()
    try:
        return self_check() if not argv else run(parse(argv))
    finally:
        if links is not None:
            links.cleanup()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
