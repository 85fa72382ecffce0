"""A hundred thousand calls of every method, failing calls included, leave the
resident memory of the process flat, as the operating system counts it."""

import contextlib
import gc
import os
import tempfile
import unittest

import pyvornlex_data
from pyvornlex import BM25, Jieba

from jieba_files import write_files

CALLS = 100_000
# Lets the allocators reach their steady state before the first reading.
WARM_UP = 5_000
# A leak of a hundred bytes a call comes to about 10 MiB; the interpreter's
# own arenas move by far less once warm.
BOUND = 6 * 2**20

TOKENS = ["北京", "大学", "token", "", "q\"uote", "北京"] * 3
IDS = [7, -7, 2**62, 0, 7] * 4
SENTENCE = "小明硕士毕业于中国科学院计算所，后在日本京都大学深造。Hello AK47!"


def resident_bytes():
    with open("/proc/self/statm", encoding="ascii") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def raising(expected, function, *args):
    """A call that must fail with `expected` every time."""
    def call():
        try:
            function(*args)
        except expected:
            return
        raise AssertionError("%s%r did not raise %s" % (function.__name__, args,
                                                        expected.__name__))
    return call


def memory_directory():
    # dump syncs every file; in memory that costs nothing.
    return "/dev/shm" if os.access("/dev/shm", os.W_OK) else None


def trained():
    model = BM25()
    model.train(TOKENS)
    model.train(IDS)
    return model


@contextlib.contextmanager
def standard_error_silenced():
    """The parser and the segmenter write a line per refused input on file
    descriptor 2; a hundred thousand of them would bury the test log."""
    saved = os.dup(2)
    try:
        with open(os.devnull, "wb") as null:
            os.dup2(null.fileno(), 2)
        yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)


class LeakCase(unittest.TestCase):
    def growth(self, call, calls=CALLS):
        with standard_error_silenced():
            for _ in range(WARM_UP):
                call()
            gc.collect()
            before = resident_bytes()
            for _ in range(calls):
                call()
            gc.collect()
            return resident_bytes() - before

    def assert_flat(self, calls):
        for name, call in calls.items():
            with self.subTest(name):
                growth = self.growth(call)
                self.assertLess(growth, BOUND, "%s: %.1f MiB more after %d calls"
                                % (name, growth / 2**20, CALLS))


class TheCheckItself(LeakCase):
    def test_a_leak_of_a_hundred_bytes_a_call_is_seen(self):
        kept = []
        growth = self.growth(lambda: kept.append(bytes(100)))
        self.assertGreater(growth, BOUND)


class BM25Calls(LeakCase):
    def setUp(self):
        self.model = trained()
        self.directory = tempfile.TemporaryDirectory(dir=memory_directory())
        self.addCleanup(self.directory.cleanup)
        self.path = os.path.join(self.directory.name, "model.json")
        self.model.dump(self.path)
        with open(self.path, encoding="utf-8") as file:
            self.text = file.read()

    def test_successful_calls(self):
        model = self.model
        self.assert_flat({
            "BM25()": lambda: BM25(0.5, k1=1.0),
            "b and k1": lambda: (model.b(0.7), model.b(), model.k1(1.3), model.k1()),
            # The same tokens again: the table keeps its size.
            "train str": lambda: model.train(TOKENS),
            "train int": lambda: model.train(IDS),
            "encode_document": lambda: (model.encode_document(TOKENS),
                                        model.encode_document(IDS)),
            "encode_query": lambda: (model.encode_query(TOKENS), model.encode_query(IDS)),
            "load": lambda: model.load(self.text),
            "dump": lambda: model.dump(self.path),
        })

    def test_failing_calls(self):
        model = self.model
        fresh = BM25()
        self.assert_flat({
            "train empty": raising(RuntimeError, model.train, []),
            "train mixed": raising(TypeError, model.train, ["a", 1]),
            "encode uninitialised": raising(RuntimeError, fresh.encode_query, TOKENS),
            "encode invalid UTF-8": raising(UnicodeDecodeError, model.encode_document,
                                            [b"ok", b"\xff"]),
            "load empty": raising(RuntimeError, fresh.load, ""),
            "load partial": raising(RuntimeError, fresh.load, self.text[:200]),
            "load number": raising(IndexError, fresh.load, '{"_doc_count": 9999999999,'),
            "dump missing directory": raising(RuntimeError, model.dump,
                                              os.path.join(self.path, "x", "y")),
            "dump NUL": raising(ValueError, model.dump, self.path + "\0"),
        })


class JiebaCalls(LeakCase):
    @classmethod
    def setUpClass(cls):
        cls.jieba = Jieba(*pyvornlex_data.dict_paths())

    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.addCleanup(self.directory.cleanup)

    def files(self, name, **replacements):
        folder = os.path.join(self.directory.name, name)
        os.mkdir(folder)
        return write_files(folder, **replacements)

    def test_cuts(self):
        jieba = self.jieba
        self.assert_flat({
            "cut": lambda: jieba.cut(SENTENCE),
            "cut_for_search": lambda: jieba.cut_for_search(SENTENCE),
            "cut refused bytes": lambda: jieba.cut(b"\xff\xfe"),
            "cut undecodable word": raising(UnicodeDecodeError, jieba.cut, b"\xc3("),
        })

    def test_construction(self):
        good = self.files("good")
        missing = dict(good, idf_path=os.path.join(self.directory.name, "missing"))
        malformed = self.files("malformed", dict_path="中国 90\n")
        self.assert_flat({
            "Jieba()": lambda: Jieba(**good),
            "missing file": raising(FileNotFoundError, lambda: Jieba(**missing)),
            "malformed file": raising(ValueError, lambda: Jieba(**malformed)),
        })


if __name__ == "__main__":
    unittest.main()
