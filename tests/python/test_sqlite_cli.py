"""The command line of pyvornlex_search as a user runs it: exit statuses,
what it prints, progress, and errors that are one line saying what to do."""

import io
import os
import sqlite3
import subprocess
import sys
import tempfile
import unittest
from contextlib import closing

from pyvornlex_search.progress import ProgressLine

from sqlite_corpus import corpus_lines


def run(*arguments):
    return subprocess.run([sys.executable, "-m", "pyvornlex_search", *arguments],
                          capture_output=True, text=True, timeout=300)


class CommandLine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="sqlite-cli-")
        cls.folder = os.path.join(cls.scratch.name, "notes")
        os.makedirs(cls.folder)
        cls.corpus = os.path.join(cls.folder, "corpus.txt")
        with open(cls.corpus, "wb") as handle:
            handle.write("\n".join(corpus_lines(150)).encode() + b"\n\xff broken\n")
        cls.database = os.path.join(cls.scratch.name, "corpus.db")

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def file(self, name, text, encoding="utf-8"):
        path = os.path.join(self.folder, name)
        with open(path, "w", encoding=encoding) as handle:
            handle.write(text)
        return path

    def test_index_add_sync_delete_search_info_reencode(self):
        indexed = run("index", self.corpus, self.database)
        self.assertEqual(indexed.returncode, 0, indexed.stderr)
        self.assertRegex(indexed.stdout, r"indexed \d+ documents \(numbers 1 to \d+\)")
        self.assertIn(f"skipped 1 lines or files that do not decode: {self.corpus}:154",
                      indexed.stdout)
        self.assertIn("--encoding NAME", indexed.stdout)
        self.assertEqual(indexed.stderr, "")  # no progress lines off a terminal

        again = run("index", self.corpus, self.database)
        self.assertEqual(again.returncode, 1)
        self.assertIn("already exists", again.stderr)
        self.assertIn("pyvornlex_search add", again.stderr)

        more = self.file("more.txt", "杭州的龙井茶\n")
        added = run("add", more, self.database)
        self.assertEqual(added.returncode, 0, added.stderr)
        self.assertRegex(added.stdout, r"added 1 documents \(numbers \d+ to \d+\)")
        twice = run("add", more, self.database)
        self.assertEqual(twice.returncode, 1)
        self.assertIn("sync", twice.stderr)

        found = run("search", self.database, "杭州龙井茶", "-k", "3")
        self.assertEqual(found.returncode, 0, found.stderr)
        lines = found.stdout.splitlines()
        self.assertEqual(len(lines), 6)
        self.assertRegex(lines[0], r"^  1\. -?\d+\.\d{6}  doc \d+  \(.*:\d+\)$")

        self.file("more.txt", "杭州的龙井茶\n北京的冬天\n")
        synced = run("sync", self.folder, self.database)
        self.assertEqual(synced.returncode, 0, synced.stderr)
        self.assertIn("files: 0 new, 1 changed, 0 gone, 1 unchanged", synced.stdout)
        deleted = run("delete", self.database, "--file", more)
        self.assertEqual(deleted.returncode, 0, deleted.stderr)
        self.assertIn("removed 2 documents", deleted.stdout)

        info = run("info", self.database)
        self.assertRegex(info.stdout, r": \d+ documents from 1 files, \d+ words, \d+ postings")
        self.assertIn("'fold'", info.stdout)
        reencoded = run("reencode", self.database)
        self.assertEqual(reencoded.returncode, 0, reencoded.stderr)

    def test_every_error_is_one_line_with_its_status(self):
        missing_db = os.path.join(self.scratch.name, "missing.db")
        damaged = os.path.join(self.scratch.name, "damaged.db")
        self.assertEqual(run("index", self.corpus, damaged).returncode, 0)
        with closing(sqlite3.connect(damaged)) as connection:
            connection.execute("DROP TABLE token")
        cases = [
            (1, ("index", os.path.join(self.scratch.name, "missing.txt"),
                 os.path.join(self.scratch.name, "x.db")), "no such file or folder"),
            (1, ("search", missing_db, "杭州"), "no such database"),
            (1, ("search", self.corpus, "杭州"), "not an SQLite database"),
            (1, ("search", damaged, "杭州"), "damaged"),
            (1, ("info", damaged), "damaged"),
            (1, ("add", self.corpus, damaged), "damaged"),
            (1, ("reencode", damaged), "damaged"),
            (1, ("delete", damaged, "--id", "1"), "damaged"),
            (2, ("index", self.corpus, "x.db", "--b", "1.5"), "--b: must be a number from 0 to 1"),
            (2, ("index", self.corpus, "x.db", "--k1", "0"), "--k1: must be a positive number"),
            (2, ("index", self.corpus, "x.db", "--k1", "nan"), "--k1: must be a positive number"),
            (2, ("index", self.corpus, "x.db", "--documents", "page"), "invalid choice"),
            (2, ("search", self.database, "杭州", "-k", "0"), "at least 1"),
            (2, ("search",), "required"),
            (2, ("frobnicate",), "invalid choice"),
            (2, ("delete", self.database), "--file PATH... or --id ID..."),
            (2, ("add", self.corpus, self.database, "--wait", "-1"), "--wait"),
        ]
        for status, arguments, message in cases:
            with self.subTest(arguments=arguments):
                result = run(*arguments)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
                self.assertTrue(result.stderr.startswith("error: "), result.stderr)
                self.assertIn(message, result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.scratch.name, "x.db")))
        self.assertFalse(os.path.exists(missing_db))

    def test_progress_only_when_asked_or_on_a_terminal(self):
        corpus = os.path.join(self.scratch.name, "long.txt")
        with open(corpus, "w", encoding="utf-8") as handle:
            handle.write("\n".join(corpus_lines(6000, seed=3)) + "\n")
        database = os.path.join(self.scratch.name, "long.db")
        shown = subprocess.run([sys.executable, "-m", "pyvornlex_search", "index", corpus,
                                database, "--progress"], capture_output=True, timeout=300)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        self.assertRegex(shown.stderr.decode(), r"\rindexed [1-9][\d,]* documents, [\d,]+/s, "
                                                r"\d+%, \d+ s left")
        quiet = run("reencode", database, "--quiet")
        self.assertEqual((quiet.returncode, quiet.stderr), (0, ""))


class Progress(unittest.TestCase):
    def test_the_line_says_what_is_done_and_what_is_left(self):
        stream = io.StringIO()
        line = ProgressLine("indexed", total_bytes=1000, stream=stream, interval=0)
        line(10, 250)
        line(30, 250)
        self.assertRegex(stream.getvalue(), r"\rindexed 40 documents, [\d,]+/s, 50%, \d+ s left")
        line.close()
        self.assertTrue(stream.getvalue().endswith("\r"))
        unknown = io.StringIO()
        line = ProgressLine("deleted", stream=unknown, interval=0)
        line(5, 0)
        self.assertNotIn("left", unknown.getvalue())
        slow = io.StringIO()
        line = ProgressLine("indexed", stream=slow, interval=3600)
        for _ in range(100):
            line(1, 0)
        self.assertEqual(slow.getvalue(), "")  # at most a few updates a second


if __name__ == "__main__":
    unittest.main()
