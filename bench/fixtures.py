"""Everything the comparisons read, built once before the rounds: the corpus
and its cut, the worker processes, models trained on the corpus, the
documents of a million distinct tokens for the memory row, and the checks
that both sides of every comparison compute the same thing."""

import json
import os
import random
import subprocess
import sys

from pure_bm25 import PureBM25
from pyvornlex import BM25, Jieba
from pyvornlex_data import dict_dir, dict_paths
from rounds import Cores, Worker

HERE = os.path.dirname(os.path.abspath(__file__))
MODEL_TOKENS = int(os.environ.get("VORN_BENCH_MODEL_TOKENS", "1000000"))
LONG_TEXT_LINES = 100


def log(message):
    print(message, file=sys.stderr, flush=True)


def read_model_file(text):
    """The model file as Python's json reads it. Tokens keep control characters
    other than the five with a JSON escape as they are, which json accepts only
    when it is not strict."""
    return json.loads(text, strict=False)


def same_weights(ours, theirs):
    """The same keys in the same order, and bit for bit the same weights."""
    return list(ours.items()) == list(theirs.items())


def trained_pair(documents, kind):
    """A BM25 and a PureBM25 trained on the same documents of one token kind."""
    ours, theirs = BM25(), PureBM25()
    train_theirs = theirs.train if kind == "str" else theirs.train_ids
    for tokens in documents:
        ours.train(tokens)
        train_theirs(tokens)
    return ours, theirs


def check_bm25(models, documents, out_dir):
    """Both BM25s must agree to the last bit before either is timed."""
    path = os.path.join(out_dir, "check-model.json")
    for ours, theirs in models.values():
        ours.dump(path)
        with open(path, encoding="utf-8") as handle:
            dumped = read_model_file(handle.read())
        if (dumped["_doc_token_frequency"] != theirs.doc_token_frequency
                or dumped["_doc_count"] != theirs.doc_count):
            raise SystemExit("check failed: trained statistics differ")
    os.remove(path)
    (ours, theirs), (ours_ids, theirs_ids) = models["str"], models["int"]
    for tokens, ids in zip(documents["str"][::7], documents["int"][::7]):
        pairs = ((ours.encode_document(tokens), theirs.encode_document(tokens)),
                 (ours.encode_query(tokens), theirs.encode_query(tokens)),
                 (ours_ids.encode_document(ids), theirs_ids.encode_document_ids(ids)),
                 (ours_ids.encode_query(ids), theirs_ids.encode_query_ids(ids)))
        for mine, reference in pairs:
            if not same_weights(mine, reference):
                raise SystemExit("check failed: encodings differ for " + repr(tokens[:10]))
    log("check: BM25 and the pure-Python BM25 give identical statistics and encodings")


def write_model_tokens(lines, path):
    """One document a line: a million distinct words of two to four Chinese
    characters drawn from the corpus's own characters, a fifth of them
    repeated so that counts vary."""
    characters = [c for c in "".join(lines) if "\u4e00" <= c <= "\u9fff"]
    chooser = random.Random(20260101)
    seen = set()
    distinct = []
    while len(distinct) < MODEL_TOKENS:
        word = "".join(chooser.choices(characters, k=chooser.randint(2, 4)))
        if word not in seen:
            seen.add(word)
            distinct.append(word)
    with open(path, "w", encoding="utf-8") as handle:
        for start in range(0, MODEL_TOKENS, 800):
            document = distinct[start:start + 800]
            document += chooser.choices(distinct[:start + 800], k=200)
            handle.write(" ".join(document) + "\n")


class Fixtures:
    def __init__(self, args):
        self.args = args
        self.out = args.out
        with open(args.corpus, encoding="utf-8") as handle:
            self.lines = [line for line in handle.read().split("\n") if line]
        self.corpus_bytes = sum(len(line.encode()) for line in self.lines)
        log(f"corpus: {len(self.lines)} lines, {self.corpus_bytes / 1e6:.1f} MB")

        self.cores = Cores()
        self.cores.pin()
        self.jieba = Jieba(*dict_paths())
        self.library = Worker([args.jieba_bench, "serve", dict_dir(), args.corpus])
        self.python_jieba = Worker([args.system_python,
                                    os.path.join(HERE, "jieba_py_worker.py"), args.corpus])
        self.module_road = Worker([sys.executable, os.path.join(HERE, "module_worker.py"),
                                   args.corpus])

        words = [self.jieba.cut(line) for line in self.lines]
        self.words = sum(map(len, words))
        _, library_words = self.library.ask("cut")
        if library_words != self.words:
            raise SystemExit(f"check failed: the module cut {self.words} words, the library "
                             f"{library_words}")
        vocabulary = {}
        ids = [[vocabulary.setdefault(t, len(vocabulary)) for t in d] for d in words]
        self.distinct = len(vocabulary)
        log(f"tokens: {self.words} ({self.distinct} distinct)")
        self.documents = {"str": words, "int": ids}
        # Encoders are timed on models trained once; training is timed on
        # fresh ones every round.
        self.trained = {kind: trained_pair(docs, kind) for kind, docs in self.documents.items()}
        check_bm25(self.trained, self.documents, self.out)

        self.texts = ["\n".join(self.lines[i:i + LONG_TEXT_LINES])
                      for i in range(0, len(self.lines), LONG_TEXT_LINES)]
        self._write_model_tokens()
        self._warm_up()

    def _write_model_tokens(self):
        self.tokens_path = os.path.join(self.out, "model-tokens.txt")
        write_model_tokens(self.lines, self.tokens_path)

    def _warm_up(self):
        """One untimed pass over a slice, so that no side's first round pays for
        caches and code that are cold."""
        head = self.lines[:2000]
        for cut in (self.jieba.cut, self.jieba.cut_for_search):
            for line in head:
                cut(line)
        warm = BM25()
        for tokens in self.documents["str"][:2000]:
            warm.train(tokens)
            warm.encode_document(tokens)
            warm.encode_query(tokens)

    def release_rounds(self):
        """Ends what only the rounds need, before the fresh-process measurements."""
        self.library.close()
        self.python_jieba.close()
        self.module_road.close()
        del self.trained

    def probe(self, *arguments):
        """The memory figure of bench/probe.py (its last), run in a fresh process."""
        output = subprocess.run([sys.executable, os.path.join(HERE, "probe.py"),
                                 *arguments], check=True, capture_output=True, text=True).stdout
        return int(float(output.split()[-1]))
