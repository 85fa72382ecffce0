"""dump and load from Python: errors, safety of the file, and other processes."""

import os
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


if __name__ == "__main__":
    unittest.main()
