"""pyvornlex_search end to end on a small corpus: what is stored, rankings
against a brute force computed from the stored model alone, adding and
re-encoding, bad input, and interrupted runs that must leave the database
as it was."""

import json
import os
import sqlite3
import tempfile
import unittest
from contextlib import closing
from unittest import mock

from pyvornlex import BM25, Jieba
from pyvornlex_data import dict_paths
from pyvornlex_search import (CorpusError, DatabaseError, EmptyQueryError, LAYOUT_VERSION,
                              SearchIndex, add_documents, build_index, reencode)
from pyvornlex_search.layout import APPLICATION_ID
from _pyvornlex_files.model_file import model_bytes
from pyvornlex_search.postings import PostingLists, read_postings
from pyvornlex_search.words import Segmenter

from sqlite_corpus import corpus_lines, queries

JIEBA = None


def jieba():
    global JIEBA
    if JIEBA is None:
        JIEBA = Jieba(*dict_paths())
    return JIEBA


def write_lines(path, lines):
    with open(path, "w", encoding="utf-8") as handle:
        handle.write("\n".join(lines) + "\n")


def stored_model(database):
    with closing(sqlite3.connect(database)) as connection:
        content = connection.execute("SELECT value FROM meta WHERE key = 'model'").fetchone()[0]
    model = BM25()
    model.load(content)
    return model, content


def stored_postings(connection):
    """token -> (documents, weights), every block of the word read."""
    tokens = [row[0] for row in connection.execute("SELECT DISTINCT token FROM posting")]
    return {token: read_postings(connection, token) for token in tokens}


def reference(index, database, query, k):
    """The ranking as a user would compute it by hand: the stored model
    encodes every stored document and the query; a document's score is
    sum(query weight * document.get(word, 0.0)) over the query's dict."""
    model, _ = stored_model(database)
    with closing(sqlite3.connect(database)) as connection:
        rows = connection.execute("SELECT id, text FROM document ORDER BY id").fetchall()
    vector = model.encode_query(index.words(query))
    scored = []
    for doc, text in rows:
        document = model.encode_document(index.words(text))
        if document.keys() & vector.keys():
            scored.append((doc, sum(weight * document.get(word, 0.0)
                                    for word, weight in vector.items())))
    return sorted(scored, key=lambda pair: (-pair[1], pair[0]))[:k]


def read_bytes(path):
    if not os.path.exists(path):
        return None
    with open(path, "rb") as handle:
        return handle.read()


def table_contents(database):
    with closing(sqlite3.connect(database)) as connection:
        names = [row[0] for row in connection.execute(
            "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name")]
        return {name: sorted(connection.execute(f"SELECT * FROM {name}").fetchall(), key=repr)
                for name in names}


class Scratch(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory(prefix="sqlite-search-")
        self.folder = self.scratch.name
        self.addCleanup(self.scratch.cleanup)

    def path(self, name):
        return os.path.join(self.folder, name)

    def corpus(self, lines, name="corpus.txt"):
        path = self.path(name)
        write_lines(path, lines)
        return path

    def build(self, lines, name="corpus.db"):
        database = self.path(name)
        build_index(self.corpus(lines), database, jieba=jieba())
        return database


class IndexedCorpus(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="sqlite-search-")
        cls.lines = corpus_lines()
        cls.corpus = os.path.join(cls.scratch.name, "corpus.txt")
        write_lines(cls.corpus, cls.lines)
        cls.database = os.path.join(cls.scratch.name, "corpus.db")
        cls.report = build_index(cls.corpus, cls.database, jieba=jieba())
        cls.index = SearchIndex(cls.database, jieba=jieba())

    @classmethod
    def tearDownClass(cls):
        cls.index.close()
        cls.scratch.cleanup()

    def test_report_counts_what_was_stored_and_skipped(self):
        self.assertEqual(self.report.documents, len(self.lines) - 3)
        self.assertEqual((self.report.blank_lines, self.report.wordless_lines), (2, 1))
        self.assertEqual(self.report.not_utf8, [])
        self.assertEqual(self.index.statistics()["documents"], self.report.documents)
        with closing(sqlite3.connect(self.database)) as connection:
            postings = sum(len(docs) for docs, _ in stored_postings(connection).values())
        self.assertEqual(postings, self.report.postings)
        self.assertEqual(self.index.statistics()["postings"], postings)

    def test_database_is_marked_versioned_and_in_wal_mode(self):
        with closing(sqlite3.connect(self.database)) as connection:
            self.assertEqual(connection.execute("PRAGMA application_id").fetchone()[0],
                             APPLICATION_ID)
            self.assertEqual(connection.execute("PRAGMA user_version").fetchone()[0],
                             LAYOUT_VERSION)
            self.assertEqual(connection.execute("PRAGMA journal_mode").fetchone()[0], "wal")
            self.assertEqual(connection.execute("PRAGMA integrity_check").fetchone()[0], "ok")
        left = [name for name in os.listdir(self.scratch.name)
                if not name.endswith(("-wal", "-shm"))]  # the open index's WAL files
        self.assertEqual(sorted(left), ["corpus.db", "corpus.txt"])  # no scratch file

    def test_stored_model_and_weights_are_what_the_module_computes(self):
        model, content = stored_model(self.database)
        trained = BM25()
        for line in self.lines:
            words = self.index.words(line)
            if words:
                trained.train(words)
        self.assertEqual(content, model_bytes(trained))
        with closing(sqlite3.connect(self.database)) as connection:
            ids = dict(connection.execute("SELECT word, id FROM token"))
            stored = {}
            for token, (docs, weights) in stored_postings(connection).items():
                for doc, weight in zip(docs, weights):
                    stored.setdefault(doc, {})[token] = weight
            documents = connection.execute("SELECT id, text FROM document").fetchall()
        for doc, text in documents:
            expected = {ids[word]: weight
                        for word, weight in model.encode_document(self.index.words(text)).items()}
            self.assertEqual(stored[doc], expected, text)  # equal to the last bit

    def test_token_bounds_and_counts_match_the_postings(self):
        with closing(sqlite3.connect(self.database)) as connection:
            lists = stored_postings(connection)
            rows = connection.execute(
                "SELECT id, postings, min_weight, max_weight FROM token").fetchall()
            counts = connection.execute(
                "SELECT count(*), count(DISTINCT id), min(id) FROM token").fetchone()
        self.assertEqual(len(rows), len(lists))
        for token, postings, low, high in rows:
            docs, weights = lists[token]
            self.assertEqual((postings, low, high), (len(docs), min(weights), max(weights)))
            self.assertEqual(list(docs), sorted(set(docs)))
        self.assertEqual(counts[:2], (counts[0], counts[0]))
        self.assertEqual(counts[2], 0)

    def test_search_equals_the_reference_for_every_query_and_k(self):
        negative = 0
        for query in queries(120):
            negative += any(weight < 0 for weight in self.index.query_vector(query).values())
            for k in (1, 3, 10, 10000):
                with self.subTest(query=query, k=k):
                    hits = self.index.search(query, k)
                    expected = reference(self.index, self.database, query, k)
                    self.assertEqual([(hit.doc, hit.score) for hit in hits], expected)
                    self.assertEqual(self.index.brute_force(query, k), hits)
        self.assertGreater(negative, 10)  # the commonest words have negative IDFs

    def test_ties_go_to_the_smaller_document_number(self):
        hits = self.index.search(self.lines[0], 10000)
        scores = [hit.score for hit in hits]
        self.assertGreater(len(scores), len(set(scores)))  # the corpus has duplicate lines
        keys = [(-hit.score, hit.doc) for hit in hits]
        self.assertEqual(keys, sorted(keys))

    def test_hits_carry_text_and_origin(self):
        hits = self.index.search("龙井茶", 3)
        self.assertTrue(hits)
        for hit in hits:
            self.assertEqual(hit.source, self.corpus)
            self.assertEqual(self.lines[hit.line - 1], hit.text)
            self.assertIn("龙井茶", hit.text)

    def test_unknown_words_match_nothing_but_still_weigh(self):
        self.assertEqual(self.index.search("量子火车站", 10), [])
        known = [hit.doc for hit in self.index.search("杭州", 10000)]
        mixed = self.index.search("杭州量子", 10000)
        self.assertEqual([hit.doc for hit in mixed], known)
        vector = self.index.query_vector("杭州量子")
        self.assertAlmostEqual(sum(vector.values()), 1.0)
        self.assertLess(vector["杭州"], 1.0)

    def test_queries_read_postings_through_the_key(self):
        statements = [
            ("SELECT docs, weights FROM posting WHERE token = ? ORDER BY first_doc", (1,)),
            ("SELECT word, id, postings, min_weight, max_weight FROM token "
             "WHERE word IN (SELECT value FROM json_each(?))", ('["a"]',)),
        ]
        with closing(sqlite3.connect(self.database)) as connection:
            for sql, arguments in statements:
                plan = " ".join(row[-1] for row in connection.execute(
                    "EXPLAIN QUERY PLAN " + sql, arguments))
                with self.subTest(sql=sql):
                    self.assertNotIn("SCAN posting", plan)
                    self.assertNotIn("SCAN token", plan)


class Cutting(unittest.TestCase):
    def test_texts_cut_together_give_each_text_its_own_words(self):
        segmenter = Segmenter(jieba(), threads=2)
        texts = corpus_lines(300, seed=11) + ["", "，。 ", "杭州\n西湖", "a\r\nb"]
        self.assertEqual(segmenter.cut_many(texts), [segmenter.words(text) for text in texts])


class BadInput(Scratch):
    def assert_no_database(self, database):
        self.assertFalse([name for name in os.listdir(self.folder)
                          if name.startswith(os.path.basename(database))])

    def test_missing_corpus(self):
        with self.assertRaisesRegex(CorpusError, "no such file or folder"):
            build_index(self.path("missing.txt"), self.path("x.db"), jieba=jieba())
        self.assert_no_database(self.path("x.db"))

    def test_unreadable_corpus(self):
        corpus = self.corpus(["杭州"])
        # As if the file were not readable (root reads every file, so chmod would not do).
        refused = PermissionError(13, "Permission denied", corpus)
        with mock.patch("pyvornlex_search.corpus.open", side_effect=refused, create=True), \
                self.assertRaisesRegex(CorpusError, "cannot read .Permission denied"):
            build_index(corpus, self.path("x.db"), jieba=jieba())
        self.assert_no_database(self.path("x.db"))

    def test_corpus_without_a_document(self):
        for lines in ([], [""], ["   ", "，。！", "\t"]):
            with self.subTest(lines=lines):
                with self.assertRaisesRegex(CorpusError, "no document to index"):
                    build_index(self.corpus(lines), self.path("x.db"), jieba=jieba())
                self.assert_no_database(self.path("x.db"))
        os.mkdir(self.path("empty"))
        with self.assertRaisesRegex(CorpusError, "no document"):
            build_index(self.path("empty"), self.path("x.db"), jieba=jieba())

    def test_lines_that_are_not_utf8_are_skipped_and_counted(self):
        corpus = self.path("mixed.txt")
        with open(corpus, "wb") as handle:
            handle.write("杭州西湖\n".encode() + b"\xff\xfe broken\n" + "北京冬天\r\n".encode()
                         + "龙井茶".encode()[:-1] + b"\n" + "火锅".encode())
        report = build_index(corpus, self.path("x.db"), jieba=jieba())
        self.assertEqual(report.not_utf8, [(corpus, 2), (corpus, 4)])
        self.assertEqual(report.documents, 3)
        with SearchIndex(self.path("x.db"), jieba=jieba()) as index:
            self.assertEqual(sorted((hit.line, hit.text) for hit in index.search("北京火锅", 5)),
                             [(3, "北京冬天"), (5, "火锅")])

    def test_a_folder_is_read_in_name_order_without_hidden_files(self):
        os.makedirs(self.path("docs/sub"))
        write_lines(self.path("docs/b.txt"), ["北京冬天"])
        write_lines(self.path("docs/a.txt"), ["杭州西湖", "龙井茶"])
        write_lines(self.path("docs/sub/c.txt"), ["火锅"])
        write_lines(self.path("docs/.hidden.txt"), ["不该出现"])
        build_index(self.path("docs"), self.path("x.db"), jieba=jieba())
        with closing(sqlite3.connect(self.path("x.db"))) as connection:
            rows = connection.execute("SELECT document.id, path, line, text FROM document "
                                      "JOIN source ON source.id = document.source").fetchall()
        self.assertEqual([(doc, os.path.relpath(path, self.folder), line, text)
                          for doc, path, line, text in rows],
                         [(1, "docs/a.txt", 1, "杭州西湖"), (2, "docs/a.txt", 2, "龙井茶"),
                          (3, "docs/b.txt", 1, "北京冬天"), (4, "docs/sub/c.txt", 1, "火锅")])

    def test_databases_that_are_not_ours_are_refused_and_untouched(self):
        text_file = self.path("notes.db")
        with open(text_file, "w", encoding="utf-8") as handle:
            handle.write("just some notes\n" * 100)
        other = self.path("other.db")
        with closing(sqlite3.connect(other)) as connection:
            connection.execute("CREATE TABLE posting(x)")
        newer = self.build(["杭州西湖"], "newer.db")
        with closing(sqlite3.connect(newer)) as connection:
            connection.execute(f"PRAGMA user_version = {LAYOUT_VERSION + 1}")
        cases = [(text_file, "not an SQLite database"), (other, "not a pyvornlex_search"),
                 (newer, "newer pyvornlex_search"), (self.path("missing.db"), "no such database")]
        for database, message in cases:
            before = read_bytes(database)
            for action in (lambda: SearchIndex(database, jieba=jieba()),
                           lambda: add_documents(self.corpus(["北京"]), database, jieba=jieba()),
                           lambda: reencode(database, jieba=jieba())):
                with self.subTest(database=database), self.assertRaisesRegex(DatabaseError, message):
                    action()
            self.assertEqual(read_bytes(database), before)

    def test_index_never_replaces_an_existing_file(self):
        existing = self.path("taken.db")
        with open(existing, "w", encoding="utf-8") as handle:
            handle.write("mine")
        with self.assertRaisesRegex(DatabaseError, "already exists"):
            build_index(self.corpus(["杭州"]), existing, jieba=jieba())
        with open(existing, encoding="utf-8") as handle:
            self.assertEqual(handle.read(), "mine")
        with self.assertRaisesRegex(DatabaseError, "does not exist"):
            build_index(self.corpus(["杭州"]), self.path("no/such/folder.db"), jieba=jieba())

    def test_queries_that_cut_to_nothing_and_bad_k(self):
        database = self.build(["杭州西湖", "北京冬天"])
        with SearchIndex(database, jieba=jieba()) as index:
            for query in ("", "   ", "，。！？"):
                with self.subTest(query=query), self.assertRaises(EmptyQueryError):
                    index.search(query)
            for k in (0, -1, 1.5, True, None):
                with self.subTest(k=k), self.assertRaises(ValueError):
                    index.search("杭州", k)

    def test_bad_model_parameters(self):
        for b, k1 in ((1.5, 1.2), (0.75, 0.0), (float("nan"), 1.2), (0.75, float("inf"))):
            with self.subTest(b=b, k1=k1), self.assertRaises(ValueError):
                build_index(self.corpus(["杭州"]), self.path("x.db"), b=b, k1=k1, jieba=jieba())
        self.assert_no_database(self.path("x.db"))


class Interrupted(RuntimeError):
    pass


def rows_then_interrupt(limit, exception):
    """Interrupts the run when its `limit`-th document's postings come in."""
    original = PostingLists.add
    added = []

    def add(self, *arguments):
        if len(added) == limit:
            raise exception
        added.append(None)
        return original(self, *arguments)
    return mock.patch.object(PostingLists, "add", add)


def blocks_then_interrupt(limit, exception):
    """Interrupts the run when it has written `limit` posting blocks, after
    the old postings of a re-encoding are gone."""
    original = PostingLists._blocks

    def blocks(self):
        for number, block in enumerate(original(self)):
            if number == limit:
                raise exception
            yield block
    return mock.patch.object(PostingLists, "_blocks", blocks)


class GrowingAndInterrupting(Scratch):
    def test_added_documents_are_searchable_and_old_weights_stale_until_reencoded(self):
        lines = corpus_lines(200, seed=3)
        database = self.build(lines[:120])
        report = add_documents(self.corpus(lines[120:], "more.txt"), database, jieba=jieba())
        self.assertEqual(report.first_doc, 118)  # after 117 documents (3 lines skipped)
        with SearchIndex(database, jieba=jieba()) as index:
            self.assertEqual(index.stale_documents(), 117)
            model, _ = stored_model(database)
            trained = BM25()
            for line in lines:
                if index.words(line):
                    trained.train(index.words(line))
            self.assertEqual(model.encode_query(["杭州", "的"]), trained.encode_query(["杭州", "的"]))
            for query in queries(30, seed=4):
                hits = index.search(query, 10)
                self.assertEqual(hits, index.brute_force(query, 10))
            reencode(database, jieba=jieba())
            self.assertEqual(index.stale_documents(), 0)
            for query in queries(30, seed=5):
                with self.subTest(query=query):
                    hits = index.search(query, 10)
                    self.assertEqual([(hit.doc, hit.score) for hit in hits],
                                     reference(index, database, query, 10))

    def test_an_open_index_sees_documents_added_by_another_connection(self):
        database = self.build(["杭州西湖"])
        with SearchIndex(database, jieba=jieba()) as index:
            self.assertEqual(index.search("北京", 5), [])
            add_documents(self.corpus(["北京冬天"], "more.txt"), database, jieba=jieba())
            self.assertEqual([hit.text for hit in index.search("北京", 5)], ["北京冬天"])
            self.assertEqual(index.query_vector("北京"), {"北京": 1.0})

    def test_interrupted_add_and_reencode_leave_the_database_as_it_was(self):
        database = self.build(corpus_lines(80, seed=9))
        add_documents(self.corpus(["杭州龙井茶"], "one.txt"), database, jieba=jieba())
        before = table_contents(database)
        more = self.corpus(corpus_lines(50, seed=10), "more.txt")
        for exception in (KeyboardInterrupt(), Interrupted("disk on fire")):
            with self.subTest(exception=exception):
                with rows_then_interrupt(30, exception), self.assertRaises(type(exception)):
                    add_documents(more, database, jieba=jieba())
                self.assertEqual(table_contents(database), before)
                with rows_then_interrupt(40, exception), self.assertRaises(type(exception)):
                    reencode(database, jieba=jieba())
                self.assertEqual(table_contents(database), before)
                for run in (lambda: add_documents(more, database, jieba=jieba()),
                            lambda: reencode(database, jieba=jieba())):
                    with blocks_then_interrupt(20, exception), self.assertRaises(type(exception)):
                        run()
                    self.assertEqual(table_contents(database), before)
        with SearchIndex(database, jieba=jieba()) as index:
            self.assertEqual(index.stale_documents(), before["encoding"][0][1])

    def test_interrupted_index_leaves_no_file(self):
        corpus = self.corpus(corpus_lines(60))
        with rows_then_interrupt(40, KeyboardInterrupt()), self.assertRaises(KeyboardInterrupt):
            build_index(corpus, self.path("x.db"), jieba=jieba())
        self.assertEqual(os.listdir(self.folder), ["corpus.txt"])

    def test_model_bytes_keep_tokens_that_are_not_utf8(self):
        model = BM25()
        model.train([b"\xff\xfe", "a", "a"])
        content = model_bytes(model)
        self.assertIn(b'"\xff\xfe" : 1', content)
        restored = BM25()
        restored.load(content)
        self.assertEqual(model_bytes(restored), content)
        self.assertEqual(json.loads(content.decode("utf-8", "surrogateescape"))["_doc_count"], 1)


if __name__ == "__main__":
    unittest.main()
