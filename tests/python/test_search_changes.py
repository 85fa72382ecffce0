"""Documents that change: sync and delete against a fresh index of the same
files, JSON Lines records with their own ids, whole files, encodings, binary
files, a database inside its own corpus folder, and two writers at once."""

import json
import os
import random
import shutil
import sqlite3
import time
import unittest
from contextlib import closing
from unittest import mock

from pyvornlex_search import (CorpusError, SearchIndex, WriterBusyError, add_documents,
                              build_index, delete_documents, reencode, sync)
from pyvornlex_search import analysis as analysis_module
from pyvornlex_search import corpus as corpus_module
from pyvornlex_search.postings import read_postings
from pyvornlex_search.store import read_lengths

from search_helpers import Scratch, analyzer, documents, places, stored_model, table_contents
from sqlite_corpus import WORDS, corpus_lines, queries

QUERIES = queries(25, seed=31) + ["杭州", "搜索引擎 权重"]


def write(path, text, encoding="utf-8"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding=encoding, newline="") as handle:
        handle.write(text)


class SyncEqualsAFreshIndex(Scratch):
    """After every sync the database must be what indexing the folder anew
    gives: the same documents, the same model file, the same top 10."""

    def assert_same_as_fresh(self, database, folder, step, **options):
        fresh = self.path(f"fresh-{step}.db")
        build_index(folder, fresh, analyzer=analyzer(), **options)
        self.assertEqual(documents(database), documents(fresh))
        self.assertEqual(stored_model(database)[1], stored_model(fresh)[1])
        with SearchIndex(database, analyzer=analyzer()) as synced, \
                SearchIndex(fresh, analyzer=analyzer()) as index:
            for query in QUERIES:
                if not index.words(query):
                    continue  # only stop words
                self.assertEqual(places(synced.search(query, 10)), places(index.search(query, 10)),
                                 query)
                self.assertEqual(synced.search(query, 10), synced.brute_force(query, 10))
        os.unlink(fresh)

    def test_files_edited_added_removed_and_touched(self):
        chooser = random.Random(41)
        folder = self.path("notes")
        for number in range(6):
            write(os.path.join(folder, f"n{number}.txt"),
                  "\n".join(corpus_lines(25, seed=number)) + "\n")
        database = self.path("notes.db")
        build_index(folder, database, analyzer=analyzer())
        for step in range(8):
            names = sorted(os.listdir(folder))
            action = step % 4
            if action == 0:  # edit a file: lines changed, added and removed
                path = os.path.join(folder, chooser.choice(names))
                with open(path, encoding="utf-8") as handle:
                    lines = handle.read().splitlines()
                lines[chooser.randrange(len(lines))] = "杭州的龙井茶很有名"
                del lines[chooser.randrange(len(lines))]
                lines.insert(0, "".join(chooser.sample(WORDS, 4)))
                write(path, "\n".join(lines) + "\n")
            elif action == 1:  # a new file, in a new sub-folder
                write(os.path.join(folder, f"sub{step}", "new.txt"),
                      "\n".join(corpus_lines(10, seed=100 + step)) + "\n")
            elif action == 2:  # a file removed
                os.unlink(os.path.join(folder, chooser.choice(
                    [name for name in names if name.endswith(".txt")])))
            else:  # touched without a change, and a file copied under a new name
                path = os.path.join(folder, chooser.choice(
                    [name for name in names if name.endswith(".txt")]))
                os.utime(path, (time.time() + 10, time.time() + 10))
                shutil.copy(path, os.path.join(folder, f"copy{step}.txt"))
            report = sync(folder, database, analyzer=analyzer())
            with self.subTest(step=step, action=action):
                self.assert_same_as_fresh(database, folder, step)
                if action == 3:
                    self.assertEqual((report.new_files, report.changed_files), (1, 0))

    def test_an_unchanged_folder_is_not_read_again_nor_a_jieba_built(self):
        folder = self.path("notes")
        write(os.path.join(folder, "a.txt"), "杭州西湖\n")
        write(os.path.join(folder, "b.txt"), "北京冬天\n")
        database = self.path("notes.db")
        build_index(folder, database, analyzer=analyzer())
        before = table_contents(database)
        with mock.patch.object(corpus_module.FileReading, "documents",
                               side_effect=AssertionError("read again")), \
                mock.patch.object(analysis_module, "build_jieba",
                                  side_effect=AssertionError("a Jieba built")):
            report = sync(folder, database, analyzer=analyzer())
            self.assertEqual(table_contents(database), before)
            later = time.time() + 10
            os.utime(os.path.join(folder, "a.txt"), (later, later))
            touched = sync(folder, database)  # its content is hashed, not cut
        self.assertEqual((report.unchanged_files, report.documents, report.removed), (2, 0, 0))
        self.assertEqual((touched.unchanged_files, touched.documents, touched.removed), (2, 0, 0))
        write(os.path.join(folder, "b.txt"), "北京冬天很冷\n")
        self.assertEqual(sync(folder, database).documents, 1)  # now one is built
        self.assert_same_as_fresh(database, folder, "changed")

    def test_sync_of_an_empty_folder_empties_the_database(self):
        folder = self.path("notes")
        write(os.path.join(folder, "a.txt"), "杭州西湖\n")
        database = self.path("notes.db")
        build_index(folder, database, analyzer=analyzer())
        os.unlink(os.path.join(folder, "a.txt"))
        self.assertEqual(sync(folder, database, analyzer=analyzer()).removed, 1)
        with SearchIndex(database, analyzer=analyzer()) as index:
            self.assertEqual(index.statistics()["documents"], 0)
            self.assertEqual(index.search("杭州"), [])
        write(os.path.join(folder, "b.txt"), "杭州西湖\n")
        sync(folder, database, analyzer=analyzer())
        self.assert_same_as_fresh(database, folder, "again")


def removed_postings(database):
    """(the count the database keeps, the postings its blocks hold of
    documents without a length, the postings they hold of the others)."""
    with closing(sqlite3.connect(database)) as connection:
        counted = connection.execute(
            "SELECT value FROM meta WHERE key = 'removed_postings'").fetchone()[0]
        lengths = read_lengths(connection)
        dead = live = 0
        for (token,) in connection.execute("SELECT DISTINCT token FROM posting").fetchall():
            docs, _ = read_postings(connection, token)
            gone = sum(1 for doc in docs if not lengths[doc])
            dead, live = dead + gone, live + len(docs) - gone
    return counted, dead, live


def numbers(database):
    """(path, line) -> the document's number."""
    with closing(sqlite3.connect(database)) as connection:
        return {(path, line): doc for doc, path, line in connection.execute(
            "SELECT document.id, source.path, document.line FROM document "
            "JOIN source ON source.id = document.source")}


class EditedFiles(Scratch):
    """A changed file's documents that it still holds stay as they are: an
    edit replaces the documents it touched, whatever the file's length."""

    def test_only_the_lines_that_changed_are_replaced(self):
        folder = self.path("notes")
        lines = [line for line in dict.fromkeys(corpus_lines(40, seed=51)) if line][:30]
        path = os.path.join(folder, "a.txt")
        write(path, "\n".join(lines) + "\n")
        write(os.path.join(folder, "b.txt"), "\n".join(corpus_lines(5, seed=52)) + "\n")
        database = self.path("notes.db")
        build_index(folder, database, analyzer=analyzer())
        before = numbers(database)
        # One line edited, one deleted, two inserted (one a copy of a kept
        # line), and a blank line: most lines move.
        edited = ["杭州的龙井茶很有名", lines[0]] + lines[:5] + ["西湖 " + lines[5]] + \
            lines[7:20] + [""] + lines[20:]
        write(path, "\n".join(edited) + "\n")
        report = sync(folder, database, analyzer=analyzer())
        self.assertEqual((report.documents, report.removed, report.changed_files), (3, 2, 1))
        SyncEqualsAFreshIndex.assert_same_as_fresh(self, database, folder, "edited")
        of_a = [{doc for (source, _), doc in held.items() if source == path}
                for held in (before, numbers(database))]
        self.assertEqual((len(of_a[1] - of_a[0]), len(of_a[0] - of_a[1])), (3, 2))
        # A file whose lines only moved keeps every document; one emptied loses all.
        write(path, "\n\n" + "\n".join(edited) + "\n")
        moved = sync(folder, database, analyzer=analyzer())
        self.assertEqual((moved.documents, moved.removed), (0, 0))
        SyncEqualsAFreshIndex.assert_same_as_fresh(self, database, folder, "moved")
        held = sum(1 for source, _ in numbers(database) if source == path)
        write(path, "\n")
        emptied = sync(folder, database, analyzer=analyzer())
        self.assertEqual((emptied.documents, emptied.removed), (0, held))
        SyncEqualsAFreshIndex.assert_same_as_fresh(self, database, folder, "emptied")

    def test_records_are_matched_by_id_and_text_and_may_move_between_files(self):
        folder = self.path("records")
        rows = [{"id": f"r{number}", "text": line}
                for number, line in enumerate(corpus_lines(12, seed=53))]
        first, second = os.path.join(folder, "a.jsonl"), os.path.join(folder, "b.jsonl")

        def put(path, records):
            write(path, "".join(json.dumps(row, ensure_ascii=False) + "\n" for row in records))

        put(first, rows[:8])
        put(second, rows[8:])
        database = self.path("records.db")
        build_index(folder, database, documents="record", analyzer=analyzer())
        # r1's text changes, r2 moves to the other file, r9 is dropped, and
        # r3 keeps its text under a new id.
        rows[1] = {"id": "r1", "text": "杭州的龙井茶很有名"}
        put(first, [rows[0], rows[1], {"id": "r3b", "text": rows[3]["text"]}] + rows[4:8])
        put(second, [rows[8], rows[2]] + rows[10:])
        report = sync(folder, database, analyzer=analyzer())
        self.assertEqual((report.documents, report.removed), (3, 4))
        SyncEqualsAFreshIndex.assert_same_as_fresh(self, database, folder, "records",
                                                   documents="record")
        with SearchIndex(database, analyzer=analyzer()) as index:
            self.assertEqual(index.search("龙井茶", 1)[0].id, "r1")


class RemovedPostings(Scratch):
    """Removal leaves postings in the blocks until they pass an eighth of the
    live ones; no reader may see them, and the count must stay exact."""

    def test_left_in_blocks_then_dropped_and_never_found(self):
        folder = self.path("notes")
        for number in range(24):
            write(os.path.join(folder, f"n{number:02d}.txt"),
                  "\n".join(corpus_lines(20, seed=200 + number)) + "\n")
        # The best match of its words, by far, in a file about to go.
        write(os.path.join(folder, "n00.txt"), "杭州 龙井 杭州 龙井 杭州\n")
        database = self.path("notes.db")
        build_index(folder, database, analyzer=analyzer())
        opened = SearchIndex(database, analyzer=analyzer())  # before any removal
        self.addCleanup(opened.close)
        self.assertEqual(opened.search("杭州 龙井", 1)[0].source, os.path.join(folder, "n00.txt"))
        left, dropped = [], []
        for step, name in enumerate(sorted(os.listdir(folder))[:8]):
            os.unlink(os.path.join(folder, name))
            before = removed_postings(database)[1]
            sync(folder, database, analyzer=analyzer())
            counted, dead, live = removed_postings(database)
            with self.subTest(step=step):
                self.assertEqual(counted, dead)
                with closing(sqlite3.connect(database)) as connection:
                    self.assertEqual(live, connection.execute(
                        "SELECT sum(postings) FROM token").fetchone()[0])
                (left if dead > before else dropped).append(step)
                self.assertLessEqual(8 * dead, live)
                SyncEqualsAFreshIndex.assert_same_as_fresh(self, database, folder, step)
                self.assertNotIn(os.path.join(folder, "n00.txt"),
                                 {hit.source for hit in opened.search("杭州 龙井", 50)})
                self.assertEqual(opened.search("杭州 龙井", 10), opened.brute_force("杭州 龙井", 10))
        self.assertTrue(left and dropped, (left, dropped))
        # Rebuilding the postings from the stored text leaves none behind.
        self.assertEqual(reencode(database, analyzer=analyzer()).documents,
                         opened.statistics()["documents"])
        self.assertEqual(removed_postings(database)[:2], (0, 0))


class Records(Scratch):
    def records(self, name, rows):
        path = self.path(name)
        write(path, "".join(json.dumps(row, ensure_ascii=False) + "\n" for row in rows))
        return path

    def test_ids_are_stored_returned_unique_and_deletable(self):
        rows = [{"id": "doc-1", "text": "杭州的龙井茶很有名"}, {"id": 2, "text": "北京的冬天很冷"},
                {"id": "doc-3", "body": "no text"}, {"id": True, "text": "bad id"}, "not an object",
                {"id": "doc-4", "text": "  "}, {"id": "doc-5", "text": "西湖在杭州城西"}]
        path = self.records("docs.jsonl", rows)
        with open(path, "a", encoding="utf-8") as handle:
            handle.write("{broken json\n")
        database = self.path("records.db")
        report = build_index(path, database, documents="record", analyzer=analyzer())
        self.assertEqual(report.documents, 3)
        self.assertEqual([(line, why.split(" ")[0]) for _, line, why in report.bad_records],
                         [(3, "no"), (4, "no"), (5, "not"), (8, "not")])
        with SearchIndex(database, analyzer=analyzer()) as index:
            hits = index.search("杭州", 10)
            self.assertEqual(sorted(hit.id for hit in hits), ["doc-1", "doc-5"])
            self.assertEqual({hit.line for hit in hits}, {1, 7})
            self.assertEqual(index.search("北京")[0].id, 2)
        delete_documents(database, ids=["doc-1", "2"], analyzer=analyzer())
        with SearchIndex(database, analyzer=analyzer()) as index:
            self.assertEqual([hit.id for hit in index.search("杭州 北京", 10)], ["doc-5"])
        with self.assertRaisesRegex(CorpusError, "no record has the id 'doc-1'"):
            delete_documents(database, ids=["doc-5", "doc-1"], analyzer=analyzer())
        # The file still holds the records: sync brings them back.
        sync(path, database, analyzer=analyzer())
        fresh = self.path("fresh.db")
        build_index(path, fresh, documents="record", analyzer=analyzer())
        self.assertEqual(documents(database), documents(fresh))

    def test_a_repeated_id_refuses_the_run(self):
        first = self.records("a.jsonl", [{"id": "x", "text": "杭州"}, {"id": "y", "text": "北京"}])
        database = self.path("records.db")
        repeated = self.records("b.jsonl", [{"id": "z", "text": "西湖"}, {"id": "z", "text": "冬天"}])
        with self.assertRaisesRegex(CorpusError, r"b.jsonl:2: the record id 'z' is already used "
                                                 r"by .*b.jsonl:1"):
            build_index(repeated, database, documents="record", analyzer=analyzer())
        build_index(first, database, documents="record", analyzer=analyzer())
        before = table_contents(database)
        clash = self.records("c.jsonl", [{"id": "w", "text": "西湖"}, {"id": "x", "text": "冬天"}])
        with self.assertRaisesRegex(CorpusError, r"c.jsonl:2: the record id 'x' is already used "
                                                 r"by .*a.jsonl:1"):
            add_documents(clash, database, analyzer=analyzer())
        self.assertEqual(table_contents(database), before)

    def test_other_field_names(self):
        path = self.records("docs.jsonl", [{"key": "k1", "body": "杭州西湖"}])
        database = self.path("records.db")
        build_index(path, database, documents="record", id_field="key", text_field="body",
                    analyzer=analyzer())
        with SearchIndex(database, analyzer=analyzer()) as index:
            self.assertEqual(index.search("西湖")[0].id, "k1")


class FilesAndEncodings(Scratch):
    def test_whole_files_are_documents(self):
        folder = self.path("docs")
        write(os.path.join(folder, "a.txt"), "杭州西湖\n\n龙井茶很有名\n")
        write(os.path.join(folder, "b.txt"), "北京冬天\n")
        write(os.path.join(folder, "blank.txt"), "\n \n")
        database = self.path("files.db")
        report = build_index(folder, database, documents="file", analyzer=analyzer())
        self.assertEqual((report.documents, report.blank_lines), (2, 1))
        with SearchIndex(database, analyzer=analyzer()) as index:
            hit = index.search("杭州 龙井茶")[0]
            self.assertEqual((os.path.basename(hit.source), hit.line, hit.text),
                             ("a.txt", 1, "杭州西湖\n\n龙井茶很有名\n"))

    def test_gb18030_utf16_binary_and_the_database_in_its_own_folder(self):
        folder = self.path("docs")
        write(os.path.join(folder, "gbk.txt"), "杭州西湖\n北京冬天\n", encoding="gb18030")
        write(os.path.join(folder, "utf16.txt"), "龙井茶很有名\n火锅\n", encoding="utf-16")
        with open(os.path.join(folder, "image.png"), "wb") as handle:
            handle.write(b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR" + bytes(100))
        database = os.path.join(folder, "docs.db")
        report = build_index(folder, database, encoding="gb18030", analyzer=analyzer())
        self.assertEqual(report.documents, 4)
        self.assertEqual([os.path.basename(path) for path in report.binary_files], ["image.png"])
        with SearchIndex(database, analyzer=analyzer()) as index:
            self.assertEqual(sorted(hit.text for hit in index.search("西湖 火锅", 5)),
                             ["杭州西湖", "火锅"])
            # The database's own files (and its WAL, open now) are never read as corpus.
            write(os.path.join(folder, "more.txt"), "上海夏天\n", encoding="gb18030")
            self.assertTrue(os.path.exists(database + "-wal"))
            report = sync(folder, database, analyzer=analyzer())
            self.assertEqual((report.new_files, report.documents), (1, 1))
            self.assertEqual(index.search("夏天")[0].text, "上海夏天")
        with self.assertRaisesRegex(CorpusError, "in the database already.*sync"):
            add_documents(folder, database, analyzer=analyzer())

    def test_utf8_corpus_with_gbk_lines_says_which_lines(self):
        path = self.path("mixed.txt")
        with open(path, "wb") as handle:
            handle.write("杭州西湖\n".encode() + "北京冬天\n".encode("gb18030"))
        report = build_index(path, self.path("x.db"), analyzer=analyzer())
        self.assertEqual(report.not_utf8, [(path, 2)])


class WritersAndReaders(Scratch):
    def test_a_second_writer_waits_then_says_another_process_writes(self):
        database = self.build(corpus_lines(40))
        more = self.corpus(["上海夏天"], "more.txt")
        with closing(sqlite3.connect(database, isolation_level=None)) as other:
            other.execute("BEGIN IMMEDIATE")
            with SearchIndex(database, analyzer=analyzer()) as index:
                found = index.search("杭州", 5)  # readers go on while another writes
                self.assertTrue(found)
                started = time.monotonic()
                with self.assertRaisesRegex(WriterBusyError, "another process is writing"):
                    add_documents(more, database, analyzer=analyzer(), wait=0.3)
                self.assertGreater(time.monotonic() - started, 0.25)
                other.execute("INSERT INTO meta VALUES ('x', 1)")
                self.assertEqual(index.search("杭州", 5), found)
            other.execute("ROLLBACK")
        add_documents(more, database, analyzer=analyzer(), wait=0.3)


if __name__ == "__main__":
    unittest.main()
