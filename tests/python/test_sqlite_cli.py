"""The command line of pyvornlex_search as a user runs it: exit codes,
what it prints, and errors that say what to do."""

import os
import subprocess
import sys
import tempfile
import unittest

from sqlite_corpus import corpus_lines


def run(*arguments):
    return subprocess.run([sys.executable, "-m", "pyvornlex_search", *arguments],
                          capture_output=True, text=True, timeout=300)


class CommandLine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="sqlite-cli-")
        cls.corpus = os.path.join(cls.scratch.name, "corpus.txt")
        with open(cls.corpus, "wb") as handle:
            handle.write("\n".join(corpus_lines(150)).encode() + b"\n\xff broken\n")
        cls.database = os.path.join(cls.scratch.name, "corpus.db")

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def test_index_add_search_info_reencode(self):
        indexed = run("index", self.corpus, self.database)
        self.assertEqual(indexed.returncode, 0, indexed.stderr)
        self.assertRegex(indexed.stdout, r"indexed 150 documents \(numbers 1 to 150\)")
        self.assertIn(f"skipped 1 lines that are not UTF-8: {self.corpus}:154", indexed.stdout)

        again = run("index", self.corpus, self.database)
        self.assertEqual(again.returncode, 1)
        self.assertIn("already exists", again.stderr)
        self.assertIn("pyvornlex_search add", again.stderr)

        more = os.path.join(self.scratch.name, "more.txt")
        with open(more, "w", encoding="utf-8") as handle:
            handle.write("杭州的龙井茶\n")
        added = run("add", more, self.database)
        self.assertEqual(added.returncode, 0, added.stderr)
        self.assertIn("added 1 documents (numbers 151 to 151)", added.stdout)
        self.assertIn("150 documents stored before keep weights of the old average", added.stdout)

        found = run("search", self.database, "杭州龙井茶", "-k", "3")
        self.assertEqual(found.returncode, 0, found.stderr)
        lines = found.stdout.splitlines()
        self.assertEqual(len(lines), 6)
        self.assertRegex(lines[0], r"^  1\. -?\d+\.\d{6}  doc \d+  \(.*:\d+\)$")

        info = run("info", self.database)
        self.assertRegex(info.stdout, r": 151 documents, \d+ words, \d+ postings; "
                                      r"150 documents with stale weights")
        self.assertEqual(run("reencode", self.database).returncode, 0)
        self.assertIn("0 documents with stale weights", run("info", self.database).stdout)

    def test_errors_exit_with_a_message(self):
        cases = [
            (("index", os.path.join(self.scratch.name, "missing.txt"),
              os.path.join(self.scratch.name, "x.db")), "no such file or folder"),
            (("search", os.path.join(self.scratch.name, "missing.db"), "杭州"),
             "no such database"),
            (("search", self.corpus, "杭州"), "not an SQLite database"),
        ]
        for arguments, message in cases:
            with self.subTest(arguments=arguments):
                result = run(*arguments)
                self.assertEqual(result.returncode, 1)
                self.assertTrue(result.stderr.startswith("error: "), result.stderr)
                self.assertIn(message, result.stderr)
                self.assertNotIn("Traceback", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.scratch.name, "x.db")))
        self.assertFalse(os.path.exists(os.path.join(self.scratch.name, "missing.db")))
        usage = run("search")
        self.assertEqual(usage.returncode, 2)
        self.assertIn("usage:", usage.stderr)


if __name__ == "__main__":
    unittest.main()
