"""Threads and processes at once: several threads cut with one Jieba while
others train, encode, dump and load BM25 models, with the interpreter switching
threads as often as it can; every result must equal the one of a lone run.
Another process replacing a model file while this one reads it must never let
a reader see a partial file."""

import os
import random
import subprocess
import sys
import tempfile
import threading
import unittest

import pyvornlex
import pyvornlex_data
from pyvornlex import BM25, Jieba

SENTENCES = [
    "他来到了网易杭研大厦",
    "小明硕士毕业于中国科学院计算所，后在日本京都大学深造",
    "我来自北京邮电大学。。。学号123456，用AK47",
    "Hello world! 混合English和中文, 3.14 与 AK47。\r\n第二行",
    "令狐冲是云计算方面的专家" * 40,
    "",
]
CUTTERS = 3
MODELLERS = 3
ROUNDS = 25
WORDS = ["北京", "大学", "中国", "科学院", "q\"uote", "back\\slash", "tab\there", "", "x" * 300]


def corpus(seed):
    """Token lists of both kinds, the same for the same seed."""
    chooser = random.Random(seed)
    documents = []
    for _ in range(12):
        length = chooser.randint(1, 40)
        if chooser.random() < 0.3:
            documents.append([chooser.randint(-5, 5) * 2**40 for _ in range(length)])
        else:
            documents.append([chooser.choice(WORDS) for _ in range(length)])
    return documents


def model_run(seed, directory, shared):
    """Everything one modelling thread does with its own models, and what it
    reads from the shared one; returns all the results."""
    documents = corpus(seed)
    path = os.path.join(directory, "model-%d.json" % seed)
    model = BM25(0.5 + seed / 100, 1.0 + seed / 10)
    results = []
    for document in documents:
        model.train(document)
        results.append((model.encode_document(document), model.encode_query(document)))
    model.dump(path)
    with open(path, encoding="utf-8") as file:
        text = file.read()
    loaded = BM25()
    loaded.load(text)
    for document in documents:
        results.append((loaded.encode_document(document), loaded.encode_query(document)))
    loaded.train(documents[0])
    results.append((loaded.b(), loaded.k1(), loaded.encode_query(documents[-1])))
    results.append([shared.encode_query(document) for document in documents])
    return text, results


class ThreadsAtOnce(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.jieba = Jieba(*pyvornlex_data.dict_paths())

    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.addCleanup(self.directory.cleanup)
        previous = sys.getswitchinterval()
        sys.setswitchinterval(1e-6)
        self.addCleanup(sys.setswitchinterval, previous)

    def test_results_match_lone_runs(self):
        shared = BM25()
        for document in corpus(99):
            shared.train(document)
        lone = os.path.join(self.directory.name, "lone")
        os.mkdir(lone)
        expected_cuts = [(self.jieba.cut(s), self.jieba.cut_for_search(s)) for s in SENTENCES]
        expected_models = {seed: model_run(seed, lone, shared) for seed in range(MODELLERS)}

        start = threading.Barrier(CUTTERS + MODELLERS)
        failures = []
        cuts = {}
        models = {}

        def guarded(work):
            def run(*args):
                try:
                    start.wait()
                    work(*args)
                except BaseException as error:  # pylint: disable=broad-except
                    failures.append(error)
            return run

        def cut(number):
            cuts[number] = [[(self.jieba.cut(s), self.jieba.cut_for_search(s))
                             for s in SENTENCES] for _ in range(ROUNDS)]

        def modelling(seed):
            models[seed] = [model_run(seed, self.directory.name, shared)
                            for _ in range(ROUNDS)]

        threads = [threading.Thread(target=guarded(cut), args=(n,)) for n in range(CUTTERS)]
        threads += [threading.Thread(target=guarded(modelling), args=(seed,))
                    for seed in range(MODELLERS)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(timeout=600)
        self.assertFalse([t for t in threads if t.is_alive()], "threads still running")
        self.assertEqual(failures, [])

        for number in range(CUTTERS):
            for run in cuts[number]:
                self.assertEqual(run, expected_cuts)
        for seed in range(MODELLERS):
            for run in models[seed]:
                self.assertEqual(run, expected_models[seed])


_WRITER = r"""
import sys
from pyvornlex import BM25
path, rounds = sys.argv[1], int(sys.argv[2])
models = []
for size in (1, 300):
    model = BM25()
    model.train(["w%d" % i for i in range(size)])
    models.append(model)
print("ready", flush=True)
for round in range(rounds):
    models[round % 2].dump(path)
"""


class FileReplacedByAnotherProcess(unittest.TestCase):
    def test_readers_see_only_whole_files(self):
        with tempfile.TemporaryDirectory() as directory:
            path = os.path.join(directory, "model.json")
            first = BM25()
            first.train(["w0"])
            first.dump(path)
            env = dict(os.environ)
            env["PYTHONPATH"] = os.pathsep.join(
                filter(None, [os.path.dirname(pyvornlex.__file__), env.get("PYTHONPATH")]))
            writer = subprocess.Popen([sys.executable, "-c", _WRITER, path, "400"],
                                      stdout=subprocess.PIPE, env=env)
            self.addCleanup(writer.wait)
            self.assertEqual(writer.stdout.readline().strip(), b"ready")
            sizes = set()
            while writer.poll() is None:
                with open(path, encoding="utf-8") as file:
                    text = file.read()
                model = BM25()
                model.load(text)  # raises on a partial file
                sizes.add(len(text))
            writer.stdout.close()
            self.assertEqual(writer.returncode, 0)
            self.assertEqual(os.listdir(directory), ["model.json"])
            # The reads met both of the files that the writer alternates.
            self.assertEqual(len(sizes), 2)


if __name__ == "__main__":
    unittest.main()
