"""Every row of the "Bad input" table of docs/errors.md: each kind of hostile
input gets a clear Python exception (or the documented result), the model
stays as it was where the table says so, and the interpreter lives on."""

import os
import subprocess
import sys
import tempfile
import unittest

import pyvornlex_data
from pyvornlex import BM25, Jieba

from jieba_files import HMM_MODEL, MAIN_DICT, construct_in_child, write_files

LOAD_MESSAGES = {"load doc_token_frequency failed", "load doc_count failed",
                 "load doc_length_average failed", "load b failed", "load k1 failed"}


def trained():
    model = BM25(0.6, 1.4)
    model.train(["北京", "大学", "北京"])
    model.train([7, -7])
    return model


class ModelCase(unittest.TestCase):
    def setUp(self):
        self._directory = tempfile.TemporaryDirectory()
        self.addCleanup(self._directory.cleanup)
        self.dir = self._directory.name

    def jieba(self):
        """A segmenter on the tiny test dictionaries, which load at once."""
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        return Jieba(**write_files(directory.name))

    def snapshot(self, model):
        """Everything a model holds: its parameters and its file."""
        path = os.path.join(self.dir, "snapshot.json")
        model.dump(path)
        with open(path, "rb") as file:
            text = file.read()
        os.unlink(path)
        return model.b(), model.k1(), text

    def assert_refused(self, model, exception, call, *args, message=None):
        before = self.snapshot(model)
        with self.assertRaises(exception) as caught:
            call(*args)
        if message is not None:
            self.assertEqual(str(caught.exception), message)
        self.assertEqual(self.snapshot(model), before)


class WrongTypes(ModelCase):
    def test_model_arguments(self):
        model = trained()
        for bad in ("0.5", None, [0.5], b"1"):
            with self.subTest(bad=bad):
                self.assert_refused(model, TypeError, BM25, bad)
                self.assert_refused(model, TypeError, model.b, bad)
                self.assert_refused(model, TypeError, model.k1, bad)
        bad_lists = (None, "ab", b"ab", {"a": 1}, {"a"}, (t for t in ["a"]), ["a", 1],
                     [1.0], [2**63], [-2**63 - 1], [["a"]], [memoryview(b"a")], 7)
        for bad in bad_lists:
            for method in (model.train, model.encode_document, model.encode_query):
                with self.subTest(bad=bad, method=method.__name__):
                    self.assert_refused(model, TypeError, method, bad)
        for bad in (None, 1, ["{}"]):
            with self.subTest(bad=bad):
                self.assert_refused(model, TypeError, model.load, bad)
                self.assert_refused(model, TypeError, model.dump, bad)
        self.assert_refused(model, TypeError, lambda: model.train(tokens_vec=["a"]))

    def test_jieba_arguments(self):
        with self.assertRaises(TypeError):
            Jieba(None, *pyvornlex_data.dict_paths()[1:])
        jieba = self.jieba()
        for bad in (None, 1, ["中国"], 1.5):
            for method in (jieba.cut, jieba.cut_for_search):
                with self.subTest(bad=bad, method=method.__name__):
                    with self.assertRaises(TypeError):
                        method(bad)

    def test_sequence_that_fails_while_read(self):
        class Failing:
            def __len__(self):
                return 3

            def __getitem__(self, index):
                raise KeyError("unreadable item")

        model = trained()
        for method in (model.train, model.encode_document, model.encode_query):
            with self.subTest(method=method.__name__):
                self.assert_refused(model, KeyError, method, Failing())


class InstancesWithoutInit(unittest.TestCase):
    """cls.__new__(cls) makes an instance whose __init__ never ran; pybind11
    would hand its methods raw memory. In a child process, so that a crash
    fails the test instead of ending the runner."""

    def test_every_method_raises(self):
        script = r"""
import pyvornlex_data
from pyvornlex import BM25, Jieba
jieba = Jieba.__new__(Jieba)
model = BM25.__new__(BM25)
calls = [(jieba.cut, ("中国",)), (jieba.cut_for_search, ("中国",)),
         (model.b, ()), (model.b, (0.5,)), (model.k1, ()), (model.k1, (0.5,)),
         (model.train, (["a"],)), (model.train, ([1],)), (model.load, ("{}",)),
         (model.dump, ("/nonexistent/model.json",)),
         (model.encode_document, (["a"],)), (model.encode_document, ([1],)),
         (model.encode_query, (["a"],)), (model.encode_query, ([1],))]
for method, args in calls:
    try:
        method(*args)
    except RuntimeError:
        print("raised", flush=True)
# A second __init__ changes nothing, a late first one makes a working model.
model.__init__(0.5)
model.train(["a"])
model.__init__(0.1)
print(model.b(), model.encode_query(["a"]))
"""
        completed = subprocess.run([sys.executable, "-c", script], capture_output=True,
                                   text=True, timeout=120, check=False)
        self.assertEqual(completed.returncode, 0, completed.stderr[-2000:])
        self.assertEqual(completed.stdout.splitlines(), ["raised"] * 14 + ["0.5 {'a': 1.0}"])


class SizesAndEmptiness(ModelCase):
    def test_empty_lists(self):
        model = trained()
        self.assert_refused(model, RuntimeError, model.train, [],
                            message="trainning tokens_vec should not be empty")
        self.assert_refused(model, RuntimeError, model.train, (),
                            message="trainning tokens_vec should not be empty")
        for fresh in (BM25(), model):
            self.assertEqual(fresh.encode_document([]), {})
            self.assertEqual(fresh.encode_query([]), {})

    def test_a_million_tokens(self):
        tokens = ["t%d" % (i % 200_000) for i in range(1_000_000)]
        model = BM25()
        model.train(tokens)
        model.train(list(range(1_000_000)))
        self.assertEqual(model.encode_query(["t5"]), {"t5": 1.0})
        document = model.encode_document(tokens)
        self.assertEqual(len(document), 200_000)
        # Five occurrences of each string against an average length of a million.
        k = ((1_000_000 / 1_000_000) * 0.75 + 0.25) * 1.2
        self.assertAlmostEqual(document["t0"], 5 / (5 + k))
        with open(self.path_of_dump(model), encoding="utf-8") as file:
            text = file.read()
        self.assertIn('"_doc_count" : 2,', text)
        self.assertIn('"_doc_length_average" : 1000000.000000,', text)
        self.assertIn('"t199999" : 5', text)

    def path_of_dump(self, model):
        path = os.path.join(self.dir, "big.json")
        model.dump(path)
        return path

    def test_impossible_length(self):
        class Boastful:
            def __len__(self):
                return 2**62

            def __getitem__(self, index):
                return "a"

        model = trained()
        for method in (model.train, model.encode_document, model.encode_query):
            with self.subTest(method=method.__name__):
                self.assert_refused(model, (ValueError, MemoryError), method, Boastful())

    def test_huge_token_and_sentence(self):
        token = "长" * 3_000_000
        model = BM25()
        model.train([token, "a"])
        model.train(["a"])
        path = self.path_of_dump(model)
        loaded = BM25()
        with open(path, encoding="utf-8") as file:
            loaded.load(file.read())
        self.assertEqual(loaded.encode_query([token, "a"]), model.encode_query([token, "a"]))
        jieba = self.jieba()
        sentence = "我来自北京邮电大学。" * 100_000
        self.assertEqual("".join(jieba.cut(sentence)), sentence)


class UnusualText(ModelCase):
    def test_invalid_utf8(self):
        model = trained()
        model.train([b"\xff\xfe", b"ok"])
        before = self.snapshot(model)
        for method in (model.encode_document, model.encode_query):
            with self.subTest(method=method.__name__):
                with self.assertRaises(UnicodeDecodeError):
                    method([b"\xff\xfe"])
        self.assertEqual(self.snapshot(model), before)
        self.assertEqual(model.encode_document([b"ok"]).keys(), {"ok"})
        # The raw bytes travel through the file unchanged.
        loaded = BM25()
        loaded.load(self.snapshot(model)[2])
        self.assertEqual(self.snapshot(loaded)[2], before[2])

        jieba = self.jieba()
        for method in (jieba.cut, jieba.cut_for_search):
            with self.subTest(method=method.__name__):
                self.assertEqual(method(b"\xff\xfe\xfd"), [])
                with self.assertRaises(UnicodeDecodeError):
                    method(b"\xc3(")

    def test_lone_surrogates(self):
        model = trained()
        for call in (model.train, model.encode_document, model.encode_query):
            with self.subTest(method=call.__name__):
                self.assert_refused(model, TypeError, call, ["a", "\ud800"])
        self.assert_refused(model, TypeError, model.load, "\udfff")
        self.assert_refused(model, TypeError, model.dump, os.path.join(self.dir, "\ud800"))
        self.assertEqual(os.listdir(self.dir), [])
        jieba = self.jieba()
        with self.assertRaises(TypeError):
            jieba.cut("中\ud800国")
        with self.assertRaises(TypeError):
            Jieba(*pyvornlex_data.dict_paths("\udc80"))

    def test_nul_inside_text(self):
        tokens = ["a\0b", "\0", "北\0京"]
        model = BM25()
        model.train(tokens)
        loaded = BM25()
        loaded.load(self.snapshot(model)[2])
        self.assertEqual(loaded.encode_query(tokens), model.encode_query(tokens))
        jieba = self.jieba()
        self.assertEqual(jieba.cut("中国\0北京"), ["中国", "\0", "北京"])
        # A model text ends at a NUL like at its end.
        with self.assertRaisesRegex(RuntimeError, "^load doc_count failed$"):
            BM25().load('{"_doc_count" : 1\0, "_b" : 1.0}')


class NonFiniteNumbers(ModelCase):
    def test_parameters_are_stored_unchecked(self):
        model = BM25(float("nan"), float("inf"))
        self.assertNotEqual(model.b(), model.b())
        self.assertEqual(model.k1(), float("inf"))
        model.b(float("-inf"))
        self.assertEqual(model.b(), float("-inf"))
        model.train(["a", "b"])
        for value in (float("nan"), float("inf")):
            model.b(value)
            weights = model.encode_document(["a"])
            self.assertNotEqual(weights["a"], weights["a"])  # NaN
        # The query side uses neither parameter.
        self.assertEqual(model.encode_query(["a"]), {"a": 1.0})

    def test_dump_refuses_them_and_keeps_the_earlier_file(self):
        model = BM25(0.75, 1.2)
        model.train(["a"])
        with tempfile.TemporaryDirectory() as directory:
            path = os.path.join(directory, "model.json")
            model.dump(path)
            with open(path, "rb") as handle:
                earlier = handle.read()
            for field, value in (("k1", float("inf")), ("b", float("nan")),
                                 ("b", float("-inf"))):
                probe = BM25(0.75, 1.2)
                probe.train(["a"])
                getattr(probe, field)(value)
                with self.assertRaisesRegex(
                        ValueError, "^Failed to dump: %s is not a finite number$" % field):
                    probe.dump(path)
            overflowed = BM25()
            overflowed.load('{"_b" : 0.5, "_doc_count" : 1, "_doc_length_average" : 1e400, '
                            '"_k1" : 1.0, "_doc_token_frequency" : {"a" : 1}}')
            with self.assertRaisesRegex(ValueError, "doc_length_average is not a finite number"):
                overflowed.dump(path)
            with open(path, "rb") as handle:
                self.assertEqual(handle.read(), earlier)
            self.assertEqual(os.listdir(directory), ["model.json"])

    def test_overflowing_number_in_a_file_is_infinite(self):
        model = BM25()
        model.load('{"_b" : 1e400, "_doc_count" : 1, "_doc_length_average" : 2.0, '
                   '"_k1" : 1.0, "_doc_token_frequency" : {"a" : 1}}')
        self.assertEqual(model.b(), float("inf"))


class MalformedModelText(ModelCase):
    def test_text_that_is_not_a_model(self):
        model = trained()
        self.assert_refused(model, RuntimeError, model.load, "",
                            message="json data should not be empty")
        for text in ("[1, 2]", "42 ", "   ", "null", "\x00", "{", "}{", "[" * 100_000,
                     '{"_doc_count" : "1"}', "\xff\xfe".encode("latin-1"), "not json"):
            with self.subTest(text=text[:20]):
                fresh = BM25()
                with self.assertRaisesRegex(RuntimeError, "^load doc_count failed$"):
                    fresh.load(text)
                with self.assertRaisesRegex(RuntimeError, "^BM25 has not been initialized$"):
                    fresh.encode_query(["a"])

    def test_numbers_that_do_not_convert_change_nothing(self):
        model = trained()
        cases = [('{"_doc_count" : 1e, ', ValueError, "invalid stol argument"),
                 ('{"_doc_count" : 2147483648, ', IndexError, "stol argument out of range"),
                 ('{"_doc_count" : 1e99999999999, ', IndexError, "stol argument out of range"),
                 ('{"_b" : -.e1, ', ValueError, "invalid stod argument"),
                 ('{"_b" : 1' + "0" * 400 + '.0, ', IndexError, "stod argument out of range")]
        for text, exception, message in cases:
            with self.subTest(text=text[:30]):
                self.assert_refused(model, exception, model.load, text, message=message)

    def test_members_of_the_wrong_kind(self):
        good = {"_b": "0.5", "_doc_count": "2", "_doc_length_average": "1.5", "_k1": "1.1",
                "_doc_token_frequency": '{"a" : 3, "b" : 1}'}
        wrong = {"_doc_token_frequency": '{"a" : 3, "b" : 1.0}', "_doc_count": "2.0",
                 "_doc_length_average": '"1.5"', "_b": "1", "_k1": "[1.1]"}
        # The members before the faulty one, in the order load reads them,
        # are loaded, the faulty one is zeroed, the ones after it are kept.
        rows = [("_doc_token_frequency", "load doc_token_frequency failed", 0.3, 0.4, False),
                ("_doc_count", "load doc_count failed", 0.3, 0.4, False),
                ("_doc_length_average", "load doc_length_average failed", 0.3, 0.4, False),
                ("_b", "load b failed", 0.0, 0.4, True),
                ("_k1", "load k1 failed", 0.5, 0.0, True)]
        for member, message, b, k1, initialised in rows:
            with self.subTest(member=member):
                members = dict(good, **{member: wrong[member]})
                text = "{%s}" % ", ".join('"%s" : %s' % item for item in members.items())
                model = BM25(0.3, 0.4)
                with self.assertRaisesRegex(RuntimeError, "^%s$" % message):
                    model.load(text)
                self.assertEqual((model.b(), model.k1()), (b, k1))
                if initialised:
                    self.assertEqual(model.encode_query(["b"]), {"b": 1.0})
                else:
                    with self.assertRaisesRegex(RuntimeError, "not been initialized"):
                        model.encode_query(["b"])

    def test_every_truncation_of_a_file(self):
        model = trained()
        model.train(["q\"uote", "tab\there", "back\\slash", ""])
        text = self.snapshot(model)[2]
        for end in range(1, len(text)):
            fresh = BM25()
            try:
                fresh.load(text[:end])
            except RuntimeError as error:
                self.assertIn(str(error), LOAD_MESSAGES, end)
            else:
                # Only the loss of the final brace keeps every member.
                self.assertEqual(end, len(text) - 1)
                self.assertEqual(self.snapshot(fresh)[2], text)


class DictionaryFiles(unittest.TestCase):
    """In a child process each, so that a fault the checks miss shows up as a
    failed test rather than a dead test runner."""

    def setUp(self):
        self._directory = tempfile.TemporaryDirectory()
        self.addCleanup(self._directory.cleanup)
        self.dir = self._directory.name

    def outcome(self, arguments):
        outcome, completed = construct_in_child(arguments)
        self.assertEqual(completed.returncode, 0, completed.stderr[-2000:])
        return outcome

    def test_missing_and_unopenable_files(self):
        regular = write_files(self.dir)["idf_path"]
        for argument in ("dict_path", "hmm_path", "user_dict_path", "idf_path",
                         "stop_word_path"):
            for bad, exception in ((os.path.join(self.dir, "missing"), "FileNotFoundError"),
                                   (self.dir, "IsADirectoryError"),
                                   (os.path.join(regular, "below"), "NotADirectoryError")):
                with self.subTest(argument=argument, exception=exception):
                    arguments = dict(write_files(self.dir), **{argument: bad})
                    outcome = self.outcome(arguments)
                    self.assertEqual(outcome["raised"], exception, outcome)
                    self.assertEqual(outcome["filename"], bad)

    def test_words_that_are_not_utf8_are_skipped(self):
        # cppjieba reports each such word on standard error and leaves it out.
        arguments = write_files(self.dir, dict_path=MAIN_DICT.encode() + b"\xff 5 n\n",
                                user_dict_path=b"\xc3\n\xe4\xb8\n")
        outcome = self.outcome(arguments)
        self.assertIsNone(outcome["raised"], outcome)
        self.assertEqual(outcome["cut"], ["我", "来到", "北京", "，", "云", "计", "算", "好", "。"])

    def test_file_the_user_may_not_read(self):
        if os.geteuid() == 0:
            self.skipTest("root reads every file")
        arguments = write_files(self.dir)
        os.chmod(arguments["hmm_path"], 0)
        outcome = self.outcome(arguments)
        self.assertEqual(outcome["raised"], "PermissionError", outcome)
        self.assertEqual(outcome["filename"], arguments["hmm_path"])

    def test_malformed_files(self):
        for argument, content in (("dict_path", "中国 90\n"), ("dict_path", ""),
                                  ("hmm_path", "-0.26 -3.14e+100\n"), ("hmm_path", ""),
                                  ("hmm_path", HMM_MODEL.replace("云:-1.0", "\udcff:-1.0")
                                   .encode("utf-8", "surrogateescape"))):
            with self.subTest(argument=argument, content=content[:20]):
                arguments = write_files(self.dir, **{argument: content})
                outcome = self.outcome(arguments)
                self.assertEqual(outcome["raised"], "ValueError", outcome)
                self.assertIn(arguments[argument], outcome["message"])


class UnwritablePaths(ModelCase):
    def test_dump_refuses_and_keeps_the_earlier_file(self):
        model = trained()
        earlier = os.path.join(self.dir, "model.json")
        with open(earlier, "w", encoding="utf-8") as file:
            file.write("earlier")
        for path in (os.path.join(self.dir, "missing", "model.json"), self.dir,
                     os.path.join(earlier, "below.json"), "/proc/pyvornlex-model.json", "",
                     self.dir + "/"):
            with self.subTest(path=path):
                self.assert_refused(model, RuntimeError, model.dump, path,
                                    message="Failed to dump: Unable to open file")
        if os.path.exists("/dev/full"):
            with self.assertRaisesRegex(RuntimeError, "^Failed to dump: "):
                model.dump("/dev/full")
        with open(earlier, encoding="utf-8") as file:
            self.assertEqual(file.read(), "earlier")
        self.assertEqual(os.listdir(self.dir), ["model.json"])


class EmbeddedNul(ModelCase):
    def test_paths_with_a_nul_are_refused(self):
        model = trained()
        target = os.path.join(self.dir, "model.json")
        for path in (target + "\0.tmp", target.encode() + b"\0"):
            with self.subTest(path=path):
                self.assert_refused(model, ValueError, model.dump, path)
        # The part before the NUL names a file that could be written.
        self.assertEqual(os.listdir(self.dir), [])

    def test_dictionary_paths_with_a_nul_are_refused(self):
        arguments = write_files(self.dir)
        for argument in arguments:
            with self.subTest(argument=argument):
                bad = dict(arguments, **{argument: arguments[argument] + "\0"})
                with self.assertRaisesRegex(ValueError, argument):
                    Jieba(**bad)


if __name__ == "__main__":
    unittest.main()
