"""The analysis as a database keeps it: case and width folded for documents
and queries alike, stop words absent from the vocabulary and the postings,
a user-dictionary word found and kept by every command, and a dictionary
that changed refused with nothing changed, through the API and the command
line."""

import os
import sqlite3
import subprocess
import sys
import unittest
from contextlib import closing

from pyvornlex_search import (Analysis, AnalysisChangedError, SearchIndex, add_documents,
                              build_index, reencode, sync)

from search_helpers import Scratch, analyzer, table_contents, write_lines

LINES = ["LibreOffice 是办公软件", "用 libreoffice 写文档", "PYTHON 和 Python 的书",
         "ＰＹＴＨＯＮ　教程", "令狐冲是云计算方面的专家", "云计算和计算机", "在杭州的西湖边"]


def run(*arguments):
    return subprocess.run([sys.executable, "-m", "pyvornlex_search", *arguments],
                          capture_output=True, text=True, timeout=300)


def words_of(database):
    with closing(sqlite3.connect(database)) as connection:
        return {word for word, in connection.execute("SELECT word FROM token")}


class Folding(Scratch):
    def test_every_case_and_width_finds_the_same_documents(self):
        database = self.build(LINES)
        with SearchIndex(database, analyzer=analyzer()) as index:
            found = {form: sorted(hit.line for hit in index.search(form, 10))
                     for form in ("LibreOffice", "libreoffice", "LIBREOFFICE", "ＬＩＢＲＥＯＦＦＩＣＥ")}
            self.assertEqual(set(map(tuple, found.values())), {(1, 2)})
            python = {form: sorted(hit.line for hit in index.search(form, 10))
                      for form in ("Python", "python", "PYTHON", "ＰＹＴＨＯＮ")}
            self.assertEqual(set(map(tuple, python.values())), {(3, 4)})

    def test_without_folding_forms_stay_apart(self):
        database = self.build(LINES, analyzer=analyzer(Analysis(fold=False)))
        with SearchIndex(database, analyzer=analyzer(Analysis(fold=False))) as index:
            self.assertEqual([hit.line for hit in index.search("LibreOffice")], [1])
            self.assertEqual(index.search("LIBREOFFICE"), [])


class StopWords(Scratch):
    def test_stop_words_are_neither_words_nor_postings(self):
        database = self.build(LINES)
        self.assertFalse(words_of(database) & {"的", "在", "是", "和"})
        kept = self.build(LINES, "kept.db", analyzer=analyzer(Analysis(stop_words=None)))
        self.assertLessEqual({"的", "在", "是", "和"}, words_of(kept))
        own = self.path("stop.txt")
        write_lines(own, ["西湖", "教程"])
        mine = self.build(LINES, "mine.db", analyzer=analyzer(Analysis(stop_words=own)))
        self.assertFalse(words_of(mine) & {"西湖", "教程"})
        self.assertIn("的", words_of(mine))


class UserDictionaries(Scratch):
    def setUp(self):
        super().setUp()
        self.dictionary = self.path("words.dict")
        write_lines(self.dictionary, ["云计算 5 n", "令狐冲"])
        self.analysis = Analysis(user_dictionaries=(self.dictionary,))

    def test_a_user_word_is_found_by_search_and_kept_by_every_command(self):
        database = self.build(LINES, analyzer=analyzer(self.analysis))
        with SearchIndex(database) as index:  # the stored analysis, no analyzer given
            self.assertEqual(index.analysis, self.analysis)
            self.assertEqual(sorted(hit.line for hit in index.search("云计算")), [5, 6])
            self.assertIn("云计算", index.words("云计算平台"))
        before = table_contents(database)
        reencode(database)
        self.assertEqual(table_contents(database), before)
        add_documents(self.corpus(["谁懂云计算"], "more.txt"), database)
        with SearchIndex(database) as index:
            self.assertEqual(sorted(hit.text for hit in index.search("云计算")),
                             sorted(["令狐冲是云计算方面的专家", "云计算和计算机", "谁懂云计算"]))

    def test_a_changed_dictionary_is_refused_with_nothing_changed(self):
        database = self.build(LINES, analyzer=analyzer(self.analysis))
        before = table_contents(database)
        write_lines(self.dictionary, ["云计算 5 n", "令狐冲", "计算机"])
        more = self.corpus(["谁懂云计算"], "more.txt")
        for run_it in (lambda: SearchIndex(database).search("云计算"),
                       lambda: add_documents(more, database),
                       lambda: sync(self.path("corpus.txt"), database),
                       lambda: reencode(database)):
            with self.assertRaisesRegex(AnalysisChangedError,
                                        "words.dict.*changed.*reencode .*--use-current-files"):
                run_it()
            self.assertEqual(table_contents(database), before)
        reencode(database, use_current_files=True)
        with SearchIndex(database) as index:
            self.assertIn("计算机", index.words("计算机"))
            self.assertEqual([hit.line for hit in index.search("计算机")], [6])
        os.unlink(self.dictionary)
        with self.assertRaisesRegex(AnalysisChangedError, "words.dict.*restore it"):
            SearchIndex(database).search("云计算")

    def test_the_command_line_stores_and_uses_the_analysis(self):
        corpus = self.corpus(LINES)
        database = self.path("cli.db")
        stop = self.path("stop.txt")
        write_lines(stop, ["西湖"])
        made = run("index", corpus, database, "--user-dict", self.dictionary,
                   "--stop-words", stop, "--no-fold")
        self.assertEqual(made.returncode, 0, made.stderr)
        info = run("info", database)
        self.assertIn("words.dict", info.stdout)
        self.assertIn("'fold': False", info.stdout)
        found = run("search", database, "云计算")
        self.assertEqual(found.stdout.count(" doc "), 2, found.stdout)
        self.assertEqual(run("search", database, "PYTHON").stdout.count(" doc "), 1)
        write_lines(self.dictionary, ["云计算"])
        refused = run("search", database, "云计算")
        self.assertEqual(refused.returncode, 1)
        self.assertIn("words.dict", refused.stderr)
        self.assertEqual(len(refused.stderr.splitlines()), 1)
        self.assertEqual(run("reencode", database, "--use-current-files").returncode, 0)
        self.assertEqual(run("search", database, "云计算").returncode, 0)


if __name__ == "__main__":
    unittest.main()
