"""dump and load from Python: errors, safety of the file, and other processes."""

import ctypes
import json
import os
import random
import subprocess
import sys
import tempfile
import threading
import unittest

from pyvornlex import BM25

TOKENS = [["北京", "大学", "北京"], ["q\"uote", "tab\there", "", "back\\slash"], ["大学", "x"]]


def trained():
    model = BM25(0.6, 1.5)
    for doc in TOKENS:
        model.train(doc)
    model.train([7, -7, 2**62])
    return model


class DumpAndLoad(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.directory.name, "model.json")

    def tearDown(self):
        self.directory.cleanup()

    def read(self):
        with open(self.path, encoding="utf-8") as handle:
            return handle.read()

    def test_round_trip_in_another_process_gives_the_same_encodings(self):
        trained().dump(self.path)
        here = BM25()
        here.load(self.read())
        queries = [["北京", "x", "q\"uote"], ["", "tab\there"], [7, 2**62, 99]]
        expected = [(here.encode_document(q), here.encode_query(q)) for q in queries]
        script = (
            "import sys\nfrom pyvornlex import BM25\n"
            "m = BM25()\nm.load(open(sys.argv[1], encoding='utf-8').read())\n"
            f"print(repr([(m.encode_document(q), m.encode_query(q)) for q in {queries!r}]))\n")
        out = subprocess.run([sys.executable, "-c", script, self.path], capture_output=True,
                             text=True, check=True).stdout
        self.assertEqual(out.strip(), repr(expected))
        self.assertEqual((here.b(), here.k1()), (0.6, 1.5))

    def test_load_errors_reach_python_with_their_messages(self):
        model = BM25()
        with self.assertRaisesRegex(RuntimeError, "^json data should not be empty$"):
            model.load("")
        with self.assertRaisesRegex(RuntimeError, "^load doc_count failed$"):
            model.load(self.path)  # a path is not the file's text
        with self.assertRaisesRegex(ValueError, "^invalid stol argument$"):
            model.load('{"_doc_count": 1e}')
        with self.assertRaisesRegex(IndexError, "^stol argument out of range$"):
            model.load('{"_doc_count": 2147483648}')
        self.assertEqual(model.encode_document([]), {})
        with self.assertRaisesRegex(RuntimeError, "^BM25 has not been initialized$"):
            model.encode_document(["a"])

    def test_failed_dumps_raise_and_keep_the_earlier_file(self):
        model = trained()
        with open(self.path, "w") as handle:
            handle.write("earlier")
        for path in (os.path.join(self.directory.name, "no", "such"), self.directory.name):
            with self.assertRaisesRegex(RuntimeError, "^Failed to dump: Unable to open file$"):
                model.dump(path)
        if os.path.exists("/dev/full"):
            with self.assertRaisesRegex(RuntimeError, "^Failed to dump: "):
                model.dump("/dev/full")
        with self.assertRaises(ValueError):
            model.dump(self.path + "\0.json")
        with self.assertRaises(TypeError):
            model.dump(path=self.path)
        self.assertEqual(self.read(), "earlier")
        self.assertEqual(os.listdir(self.directory.name), ["model.json"])
        model.dump(self.path)
        self.assertTrue(self.read().startswith('{\n  "_b" : 0.600000,\n'))

    def test_dump_into_a_pipe(self):
        fifo = os.path.join(self.directory.name, "pipe")
        os.mkfifo(fifo)
        received = []
        reader = threading.Thread(target=lambda: received.append(open(fifo).read()))
        reader.start()
        trained().dump(fifo)
        reader.join(timeout=30)
        model = BM25()
        model.load(received[0])
        self.assertEqual(model.encode_query(["北京"]), {"北京": 1.0})


class OtherWriters(unittest.TestCase):
    """Files that other tools write (json.dumps in its layouts, keys in any
    order, exponents) load into the statistics they hold, from a str, bytes or
    a bytearray alike, and dump back to the module's own layout."""

    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.addCleanup(self.directory.cleanup)

    def dumped(self, model):
        path = os.path.join(self.directory.name, "model.json")
        model.dump(path)
        with open(path, encoding="utf-8") as handle:
            return handle.read()

    def test_json_dumps_forms_load_the_same_statistics(self):
        draw = random.Random(14)
        table = {}
        for _ in range(3000):
            token = "".join(draw.choice(["a", "b", "北", "京", "\"", "\\", "\t", "/", " ", "1"])
                            for _ in range(draw.randint(0, 6)))
            table[token] = draw.randint(-5, 2**31 - 1)
        document = {"_doc_token_frequency": table, "_b": 1e-05, "_doc_count": 12,
                    "_doc_length_average": 2.5, "_k1": 1.2}
        # Raw or as "\u" escapes (json's default), text reads the same.
        texts = [json.dumps(document, ensure_ascii=False),
                 json.dumps(document, ensure_ascii=False, indent=2, sort_keys=True),
                 json.dumps(document, ensure_ascii=False, separators=(",", ":")),
                 json.dumps(document), json.dumps(document, indent=2, sort_keys=True)]
        expected = None
        for text in texts:
            for argument in (text, text.encode(), bytearray(text.encode())):
                with self.subTest(text=text[:40], kind=type(argument).__name__):
                    model = BM25()
                    model.load(argument)
                    self.assertEqual((model.b(), model.k1()), (1e-05, 1.2))
                    written = self.dumped(model)
                    self.assertEqual(json.loads(written, strict=False)["_doc_token_frequency"],
                                     table)
                    if expected is None:
                        expected = written
                    self.assertEqual(written, expected)

    def test_files_of_json_dumps_with_unicode_escapes_read_as_the_dumped_model(self):
        # json.dumps writes every character beyond ASCII, and control
        # characters, as "\u" escapes (astral ones as surrogate pairs); a
        # token that holds a backslash and "u0041" is no escape.
        vocabulary = ["北京", "大学", "😀", "a😀b", "é", "\x01", "\x7f", "x\0y", "\\u0041",
                      "\\\\u0041", 'q"uote', "tab\there", "\u2028", "", "a", "Z"]
        draw = random.Random(29)
        model = BM25(0.6, 1.4)
        for _ in range(300):
            model.train(draw.choices(vocabulary, k=draw.randint(1, 9)))
        model.train([12, -7, 12])
        text = self.dumped(model)
        self.assertNotIn("\\u", text.replace("\\\\", ""))  # dump writes no escape of that kind
        members = json.loads(text, strict=False)
        queries = [draw.choices(vocabulary, k=4) for _ in range(50)] + [["12", "absent"]]
        # The file holds the average to six decimals: the encodings to match
        # are those of the dumped file itself.
        original = BM25()
        original.load(text)
        for form in (json.dumps(members), json.dumps(members, indent=2, sort_keys=True),
                     json.dumps(members, separators=(",", ":")),
                     # a member load does not know sends it the other way
                     json.dumps(dict(members, note="written elsewhere"))):
            with self.subTest(form=form[:60]):
                self.assertNotIn("😀", form)
                other = BM25()
                other.load(form)
                for query in queries:
                    self.assertEqual(other.encode_query(query), original.encode_query(query))
                    self.assertEqual(other.encode_document(query),
                                     original.encode_document(query))
                self.assertEqual(self.dumped(other), text)

    def test_half_a_surrogate_pair_in_a_token_key_changes_nothing(self):
        good = '"_b": 0.5, "_doc_count": 3, "_doc_length_average": 2.0, "_k1": 1.5'
        for key, escape in [("\\ud83d", "\\ud83d"), ("x\\uDE00", "\\uDE00"),
                            ("\\ud83d\\u0041", "\\ud83d")]:
            for extra in ("", ', "note": "x"'):
                with self.subTest(key=key, extra=extra):
                    model = BM25(0.75, 1.2)
                    model.train(["kept"])
                    before = model.encode_query(["kept", "a"])
                    text = '{%s, "_doc_token_frequency": {"a": 2, "%s": 1}%s}' % (good, key, extra)
                    with self.assertRaises(RuntimeError) as raised:
                        model.load(text)
                    self.assertEqual(str(raised.exception),
                                     "load failed: lone surrogate escape %s in a token key; "
                                     "the model is unchanged" % escape)
                    self.assertEqual(model.encode_query(["kept", "a"]), before)
                    self.assertEqual((model.b(), model.k1()), (0.75, 1.2))
        # Elsewhere an escape is what any JSON string holds: no token.
        model = BM25()
        model.load('{%s, "\\ud83d": 1, "note": "\\udc00"}' % good)
        self.assertEqual(model.b(), 0.5)

    def test_large_model_round_trips_and_merges(self):
        model = BM25()
        draw = random.Random(3)
        words = ["".join(draw.choice("abc北京\t\"") for _ in range(draw.randint(1, 8)))
                 for _ in range(20000)]
        for start in range(0, len(words), 100):
            model.train(words[start:start + 100])
        text = self.dumped(model)
        holding = BM25()
        holding.train(["kept", words[0]])
        holding.load(text)
        self.assertEqual(holding.encode_query(["kept"]), {"kept": 1.0})
        merged = json.loads(self.dumped(holding), strict=False)["_doc_token_frequency"]
        self.assertEqual(merged.pop("kept"), 1)
        self.assertEqual(merged, json.loads(text, strict=False)["_doc_token_frequency"])
        fresh = BM25()
        fresh.load(text)
        self.assertEqual(self.dumped(fresh), text)


class TextArguments(unittest.TestCase):
    """load reads a str as its UTF-8 form, straight from the str's code points
    (or from the UTF-8 form CPython keeps, where it has one): for every kind
    of str (ASCII, Latin-1, the BMP, beyond it), in texts that load reads
    itself and texts it leaves to the parser, the result equals that of the
    same text as UTF-8 bytes."""

    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.addCleanup(self.directory.cleanup)

    def loaded(self, text):
        model = BM25()
        model.load(text)
        path = os.path.join(self.directory.name, "model.json")
        model.dump(path)
        with open(path, "rb") as handle:
            return handle.read()

    def test_every_kind_of_str_reads_as_its_utf8(self):
        draw = random.Random(8)
        alphabets = {"ascii": "ab1 \"\\\t", "latin-1": "aé\xff\x80 \"",
                     "bmp": "a北京\u0800\uffff\u07ff é", "astral": "a😀\U0010ffff北\x7f"}
        for name, alphabet in alphabets.items():
            table = {}
            for _ in range(500):
                token = "".join(draw.choice(alphabet) for _ in range(draw.randint(0, 7)))
                table[token] = draw.randint(1, 9)
            members = {"_b": 0.5, "_doc_count": 3, "_doc_length_average": 2.0, "_k1": 1.5,
                       "_doc_token_frequency": table}
            for text in (json.dumps(members, ensure_ascii=False),
                         json.dumps(dict(members, note=alphabet), ensure_ascii=False, indent=1),
                         json.dumps(members, ensure_ascii=False).replace("0.5", "5e-1")):
                with self.subTest(kind=name, text=text[:30]):
                    self.assert_read_as_utf8(text, table)

    def assert_read_as_utf8(self, text, table):
        expected = self.loaded(text.encode("utf-8"))
        self.assertEqual(self.loaded(text), expected)
        self.assertEqual(self.loaded(type("Text", (str,), {})(text)), expected)
        # A str that already keeps its UTF-8 form.
        as_utf8 = ctypes.pythonapi.PyUnicode_AsUTF8AndSize
        as_utf8.restype = ctypes.c_void_p
        as_utf8.argtypes = [ctypes.py_object, ctypes.c_void_p]
        kept = text.encode("utf-8").decode("utf-8")
        as_utf8(kept, None)
        self.assertEqual(self.loaded(kept), expected)
        self.assertEqual(json.loads(expected.decode("utf-8"))["_doc_token_frequency"], table)

    def test_surrogates_are_refused_before_anything_changes(self):
        model = BM25()
        model.train(["kept"])
        whole = '{"_doc_count": 1, "_doc_length_average": 1.0, "_b": 0.5, "_k1": 1.0} '
        for text in ("\ud800", '{"_doc_count" : 1, "\udfff" : 2}', "北" * 1000 + "\ud83d\ude00",
                     # after the object, where load reads nothing
                     whole + "北\udfff", whole + "😀\ud800"):
            with self.subTest(text=text[-3:]):
                with self.assertRaises(TypeError):
                    model.load(text)
                self.assertEqual(model.encode_query(["kept"]), {"kept": 1.0})


if __name__ == "__main__":
    unittest.main()
