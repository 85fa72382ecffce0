"""pyvornlex_search end to end on a small corpus: what is stored, rankings
against the ranking computed by hand from the stored model alone, a query
whose IDFs add up to less than zero, bad input, databases of the first
layout, and failures in the middle of a run."""

import os
import sqlite3
import tempfile
import unittest
import zlib
from contextlib import closing
from unittest import mock

from _pyvornlex_files.model_file import model_bytes
from pyvornlex import BM25
from pyvornlex_search import (Analysis, CorpusError, DatabaseError, EmptyQueryError,
                              LAYOUT_VERSION, SearchIndex, add_documents, build_index, reencode)
from pyvornlex_search import writer as writer_module
from pyvornlex_search.layout import APPLICATION_ID
from pyvornlex_search.postings import read_postings, unpack
from pyvornlex_search.weights import Weigher

from search_helpers import (Scratch, analyzer, documents, places, reference, stored_model,
                            table_contents, write_lines)
from sqlite_corpus import corpus_lines, queries


def read_bytes(path):
    if not os.path.exists(path):
        return None
    with open(path, "rb") as handle:
        return handle.read()


class IndexedCorpus(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="sqlite-search-")
        cls.lines = corpus_lines()
        cls.corpus = os.path.join(cls.scratch.name, "corpus.txt")
        write_lines(cls.corpus, cls.lines)
        cls.database = os.path.join(cls.scratch.name, "corpus.db")
        # Stop words kept: the corpus's commonest words then have negative IDFs.
        kept = analyzer(Analysis(stop_words=None))
        with mock.patch.object(writer_module, "BATCH", 7):  # batches that end mid-block
            cls.report = build_index(cls.corpus, cls.database, analyzer=kept)
        cls.index = SearchIndex(cls.database, analyzer=kept)

    @classmethod
    def tearDownClass(cls):
        cls.index.close()
        cls.scratch.cleanup()

    def test_report_counts_what_was_stored_and_skipped(self):
        wordless = sum(1 for line in self.lines if line.strip() and not self.index.words(line))
        self.assertEqual(self.report.documents, len(self.lines) - 2 - wordless)
        self.assertEqual((self.report.blank_lines, self.report.wordless_lines), (2, wordless))
        self.assertEqual(self.report.not_utf8, [])
        statistics = self.index.statistics()
        self.assertEqual(statistics["documents"], self.report.documents)
        self.assertEqual(statistics["postings"], self.report.postings)

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
            words = {token: word for word, token in connection.execute("SELECT word, id FROM token")}
            computed = {}
            weigher = self.index._weigher
            for token in words:
                docs, tfs = read_postings(connection, token)
                for doc, weight in zip(docs, weigher.weights(docs, tfs)):
                    computed.setdefault(doc, {})[words[token]] = weight
            rows = connection.execute("SELECT id, text FROM document").fetchall()
        for doc, text in rows:
            # Equal to the last bit, not merely close.
            self.assertEqual(computed[doc], model.encode_document(self.index.words(text)), text)

    def test_weights_equal_the_module_over_lengths_and_parameters(self):
        for b, k1, average in ((0.75, 1.2, 9.123457), (0.0, 2.0, 3.5), (1.0, 0.3, 1.0),
                               (0.33, 7.77, 1234.5)):
            model = BM25(b, k1)
            model.load('{"_b": %f, "_doc_count": 3, "_doc_length_average": %f, '
                       '"_doc_token_frequency": {}, "_k1": %f}' % (b, average, k1))
            weigher = Weigher(model.b(), model.k1(), average, None)
            for length in (1, 2, 7, 100, 5000):
                tokens = list(range(length))
                for tf in sorted({tf for tf in (1, 2, 3, length // 2, length) if 1 <= tf <= length}):
                    document = [0] * tf + tokens[tf:]
                    with self.subTest(b=b, k1=k1, length=length, tf=tf):
                        self.assertEqual(weigher.weight(tf, length),
                                         model.encode_document(document)[0])

    def test_token_counts_and_bounds_match_the_postings(self):
        with closing(sqlite3.connect(self.database)) as connection:
            rows = connection.execute(
                "SELECT id, occurrences, postings, max_tf, min_length FROM token").fetchall()
            lengths = self.index._weigher.lengths
            for token, occurrences, postings, max_tf, min_length in rows:
                docs, tfs = read_postings(connection, token)
                self.assertEqual(list(docs), sorted(set(docs)))
                self.assertEqual((occurrences, postings, max_tf, min_length),
                                 (sum(tfs), len(docs), max(tfs), min(lengths[d] for d in docs)))

    def test_search_equals_the_reference_for_every_query_and_k(self):
        negative = 0
        for query in queries(120):
            try:
                vector = self.index.query_vector(query)
            except EmptyQueryError:
                continue
            negative += any(weight < 0 for weight in vector.values())
            for k in (1, 3, 10, 10000):
                with self.subTest(query=query, k=k):
                    hits = self.index.search(query, k)
                    self.assertEqual(places(hits), reference(self.index, self.database, query, k))
                    self.assertEqual(self.index.brute_force(query, k), hits)
        self.assertGreater(negative, 10)  # the commonest words have negative IDFs

    def test_ties_go_to_the_document_first_in_the_corpus(self):
        hits = self.index.search(self.lines[5], 10000)
        scores = [hit.score for hit in hits]
        self.assertGreater(len(scores), len(set(scores)))  # the corpus has duplicate lines
        keys = [(-hit.score, hit.source, hit.line) for hit in hits]
        self.assertEqual(keys, sorted(keys))

    def test_hits_carry_text_and_origin(self):
        hits = self.index.search("龙井茶", 3)
        self.assertTrue(hits)
        for hit in hits:
            self.assertEqual(hit.source, self.corpus)
            self.assertEqual(self.lines[hit.line - 1], hit.text)
            self.assertIn("龙井茶", hit.text)
            self.assertIsNone(hit.id)

    def test_unknown_words_match_nothing_but_still_weigh(self):
        self.assertEqual(self.index.search("量子火车站", 10), [])
        known = [hit.doc for hit in self.index.search("杭州", 10000)]
        mixed = self.index.search("杭州量子", 10000)
        self.assertEqual([hit.doc for hit in mixed], known)
        vector = self.index.query_vector("杭州量子")
        self.assertAlmostEqual(sum(vector.values()), 1.0)
        self.assertLess(vector["杭州"], 1.0)

    def test_queries_read_postings_and_words_through_the_keys(self):
        from pyvornlex_search import postings
        statements = [
            ("SELECT docs, tfs FROM posting WHERE token = ? ORDER BY first_doc", (1,)),
            (postings._FIRSTS, (1,)),
            (postings._SOME, (1, "[1, 5]")),
            ("SELECT word, id, postings, max_tf, min_length, occurrences FROM token "
             "WHERE word IN (SELECT value FROM json_each(?))", ('["a"]',)),
        ]
        with closing(sqlite3.connect(self.database)) as connection:
            for sql, arguments in statements:
                plan = " ".join(row[-1] for row in connection.execute(
                    "EXPLAIN QUERY PLAN " + sql, arguments))
                with self.subTest(sql=sql):
                    self.assertNotIn("SCAN posting", plan)
                    self.assertNotIn("SCAN token", plan)


class NegativeIdfSum(Scratch):
    """With IDFs over occurrences, a common word's IDF is negative; a query of
    one common and one rare word can have a negative IDF sum, which must not
    turn the ranking upside down."""

    def test_a_document_with_the_rare_word_ranks_above_one_with_the_common_word(self):
        common = " ".join(["的"] * 50)
        lines = [common + " 书"] * 30 + [common + " 报纸"] * 30 + ["杂志 画报"]
        database = self.build(lines, analyzer=analyzer(stop_words_kept()))
        with SearchIndex(database, analyzer=analyzer(stop_words_kept())) as index:
            model, _ = stored_model(database)
            idfs = model.encode_query(["的", "杂志"])  # IDFs over their (negative) sum
            self.assertLess(idfs["杂志"], 0)  # so the sum is negative
            hits = index.search("的 杂志", 100)
            self.assertEqual(hits[0].text, "杂志 画报")
            self.assertEqual(len(hits), 61)
            self.assertGreater(hits[0].score, 0)
            # The BM25 score itself, in the same order: each weight is the IDF over |sum|.
            vector = index.query_vector("的 杂志")
            self.assertEqual(vector, {word: -weight for word, weight in idfs.items()})
            self.assertEqual(places(hits), reference(index, database, "的 杂志", 100))

    def test_a_sum_of_exactly_zero_ranks_by_the_score(self):
        database = self.build(["甲", "乙"], analyzer=analyzer(stop_words_kept()))
        with SearchIndex(database, analyzer=analyzer(stop_words_kept())) as index:
            with mock.patch.object(BM25, "encode_query", side_effect=[
                    {"甲": float("inf"), "乙": float("-inf")},
                    {"甲": 0.25, "乙": 0.5, "\x00": 0.25}]):
                vector = index.query_vector("甲 乙")
            self.assertEqual(vector, {"甲": 0.25, "乙": 0.5})


def stop_words_kept():
    return Analysis(stop_words=None)


class BadInput(Scratch):
    def assert_no_database(self, database):
        self.assertFalse([name for name in os.listdir(self.folder)
                          if name.startswith(os.path.basename(database))])

    def test_missing_corpus(self):
        with self.assertRaisesRegex(CorpusError, "no such file or folder"):
            build_index(self.path("missing.txt"), self.path("x.db"), analyzer=analyzer())
        self.assert_no_database(self.path("x.db"))

    def test_unreadable_corpus(self):
        corpus = self.corpus(["杭州"])
        # As if the file were not readable (root reads every file, so chmod would not do).
        refused = PermissionError(13, "Permission denied", corpus)
        with mock.patch("pyvornlex_search.corpus.open", side_effect=refused, create=True), \
                self.assertRaisesRegex(CorpusError, "cannot read .Permission denied"):
            build_index(corpus, self.path("x.db"), analyzer=analyzer())
        self.assert_no_database(self.path("x.db"))

    def test_corpus_without_a_document(self):
        for lines in ([], [""], ["   ", "，。！", "\t"]):
            with self.subTest(lines=lines):
                with self.assertRaisesRegex(CorpusError, "no document to index"):
                    build_index(self.corpus(lines), self.path("x.db"), analyzer=analyzer())
                self.assert_no_database(self.path("x.db"))
        os.mkdir(self.path("empty"))
        with self.assertRaisesRegex(CorpusError, "no document"):
            build_index(self.path("empty"), self.path("x.db"), analyzer=analyzer())

    def test_lines_that_do_not_decode_are_skipped_and_counted(self):
        corpus = self.path("mixed.txt")
        with open(corpus, "wb") as handle:
            handle.write("杭州西湖\n".encode() + b"\xff\xfe broken\n" + "北京冬天\r\n".encode()
                         + "龙井茶".encode()[:-1] + b"\n" + "火锅".encode())
        report = build_index(corpus, self.path("x.db"), analyzer=analyzer())
        self.assertEqual(report.not_utf8, [(corpus, 2), (corpus, 4)])
        self.assertEqual(report.documents, 3)
        with SearchIndex(self.path("x.db"), analyzer=analyzer()) as index:
            self.assertEqual(sorted((hit.line, hit.text) for hit in index.search("北京火锅", 5)),
                             [(3, "北京冬天"), (5, "火锅")])

    def test_a_folder_is_read_in_the_order_of_its_paths_without_hidden_files(self):
        os.makedirs(self.path("docs/sub"))
        os.makedirs(self.path("docs/.git"))
        write_lines(self.path("docs/b.txt"), ["北京冬天"])
        write_lines(self.path("docs/a.txt"), ["杭州西湖", "龙井茶"])
        write_lines(self.path("docs/sub/c.txt"), ["火锅"])
        write_lines(self.path("docs/c.txt"), ["西湖"])
        write_lines(self.path("docs/.hidden.txt"), ["不该出现"])
        write_lines(self.path("docs/.git/x.txt"), ["不该出现"])
        build_index(self.path("docs"), self.path("x.db"), analyzer=analyzer())
        with closing(sqlite3.connect(self.path("x.db"))) as connection:
            rows = connection.execute("SELECT document.id, path, line, text FROM document "
                                      "JOIN source ON source.id = document.source").fetchall()
        self.assertEqual([(doc, os.path.relpath(path, self.folder), line, text)
                          for doc, path, line, text in rows],
                         [(1, "docs/a.txt", 1, "杭州西湖"), (2, "docs/a.txt", 2, "龙井茶"),
                          (3, "docs/b.txt", 1, "北京冬天"), (4, "docs/c.txt", 1, "西湖"),
                          (5, "docs/sub/c.txt", 1, "火锅")])

    def test_databases_that_are_not_ours_or_damaged_are_refused_and_untouched(self):
        text_file = self.path("notes.db")
        with open(text_file, "w", encoding="utf-8") as handle:
            handle.write("just some notes\n" * 100)
        other = self.path("other.db")
        with closing(sqlite3.connect(other)) as connection:
            connection.execute("CREATE TABLE posting(x)")
        newer = self.build(["杭州西湖"], "newer.db")
        with closing(sqlite3.connect(newer)) as connection:
            connection.execute(f"PRAGMA user_version = {LAYOUT_VERSION + 1}")
        damaged = self.build(["杭州西湖"], "damaged.db")
        with closing(sqlite3.connect(damaged)) as connection:
            connection.execute("DROP TABLE meta")
        cases = [(text_file, "not an SQLite database"), (other, "not a pyvornlex_search"),
                 (newer, "newer pyvornlex_search"), (self.path("missing.db"), "no such database"),
                 (damaged, "damaged.*meta")]
        for database, message in cases:
            before = read_bytes(database)
            for action in (lambda: SearchIndex(database, analyzer=analyzer()),
                           lambda: add_documents(self.corpus(["北京"], "more.txt"), database,
                                                 analyzer=analyzer()),
                           lambda: reencode(database, analyzer=analyzer())):
                with self.subTest(database=database), self.assertRaisesRegex(DatabaseError, message):
                    action()
            self.assertEqual(read_bytes(database), before)

    def test_index_never_replaces_an_existing_file(self):
        existing = self.path("taken.db")
        with open(existing, "w", encoding="utf-8") as handle:
            handle.write("mine")
        with self.assertRaisesRegex(DatabaseError, "already exists"):
            build_index(self.corpus(["杭州"]), existing, analyzer=analyzer())
        with open(existing, encoding="utf-8") as handle:
            self.assertEqual(handle.read(), "mine")
        with self.assertRaisesRegex(DatabaseError, "does not exist"):
            build_index(self.corpus(["杭州"]), self.path("no/such/folder.db"), analyzer=analyzer())

    def test_queries_that_cut_to_nothing_and_bad_k(self):
        database = self.build(["杭州西湖", "北京冬天"])
        with SearchIndex(database, analyzer=analyzer()) as index:
            for query in ("", "   ", "，。！？"):
                with self.subTest(query=query), self.assertRaises(EmptyQueryError):
                    index.search(query)
            for k in (0, -1, 1.5, True, None):
                with self.subTest(k=k), self.assertRaises(ValueError):
                    index.search("杭州", k)

    def test_bad_model_parameters(self):
        for b, k1 in ((1.5, 1.2), (0.75, 0.0), (float("nan"), 1.2), (0.75, float("inf")),
                      (True, 1.2)):
            with self.subTest(b=b, k1=k1), self.assertRaises(ValueError):
                build_index(self.corpus(["杭州"]), self.path("x.db"), b=b, k1=k1,
                            analyzer=analyzer())
        self.assert_no_database(self.path("x.db"))


class Failing(RuntimeError):
    pass


def fail_after(calls, exception, target="add_documents"):
    """Raises `exception` in PostingWriter.<target>: for add_documents, once
    more than `calls` documents were given, after it took the batch's
    postings and before the batch's rows are stored (the middle of a batch);
    for another method, at the call after its first `calls` calls."""
    from pyvornlex_search.postings import PostingWriter
    original = getattr(PostingWriter, target)
    given = []

    def failing(self, *arguments):
        if target == "add_documents":
            result = original(self, *arguments)
            given.append(len(arguments[0]))
            if sum(given) > calls:
                raise exception
            return result
        if len(given) == calls:
            raise exception
        given.append(1)
        return original(self, *arguments)
    return mock.patch.object(PostingWriter, target, failing)


class FailuresMidRun(Scratch):
    def test_a_failure_in_a_batch_leaves_the_database_as_it_was(self):
        database = self.build(corpus_lines(80, seed=9))
        more = self.corpus(corpus_lines(50, seed=10), "more.txt")
        before = table_contents(database)
        for batch in (1, 3, 4096):
            for exception in (KeyboardInterrupt(), Failing("disk on fire")):
                with self.subTest(batch=batch, exception=exception), \
                        mock.patch.object(writer_module, "BATCH", batch):
                    with fail_after(30, exception), self.assertRaises(type(exception)):
                        add_documents(more, database, analyzer=analyzer())
                    self.assertEqual(table_contents(database), before)
                    with fail_after(40, exception), self.assertRaises(type(exception)):
                        reencode(database, analyzer=analyzer())
                    self.assertEqual(table_contents(database), before)
                    # A batch's blocks are written once, then the rest once at
                    # the end: the second write fails, after the first stored.
                    with fail_after(1, exception, "_write"), self.assertRaises(type(exception)):
                        reencode(database, analyzer=analyzer())
                    self.assertEqual(table_contents(database), before)

    def test_a_failed_index_leaves_no_file(self):
        corpus = self.corpus(corpus_lines(60))
        for exception in (KeyboardInterrupt(), Failing("disk on fire")):
            with fail_after(40, exception), self.assertRaises(type(exception)):
                build_index(corpus, self.path("x.db"), analyzer=analyzer())
            self.assertEqual(os.listdir(self.folder), ["corpus.txt"])

    def test_any_batch_size_stores_the_same_database(self):
        lines = corpus_lines(120, seed=12)
        built = []
        for batch, limit in ((1, 2_000_000), (5, 3), (4096, 2_000_000)):
            with mock.patch.object(writer_module, "BATCH", batch), \
                    mock.patch.object(writer_module, "POSTINGS_WAITING", limit):
                database = self.build(lines, f"b{batch}.db")
            with SearchIndex(database, analyzer=analyzer()) as index:
                built.append([places(index.search(query, 10)) for query in queries(20, seed=2)])
            self.assertEqual(stored_model(database)[1], stored_model(self.path("b1.db"))[1])
        self.assertEqual(built[0], built[1])
        self.assertEqual(built[0], built[2])

    def test_words_spanning_many_blocks_batches_and_flushes(self):
        # Blocks of 4 postings, batches of 5 documents and a flush whenever 7
        # postings wait: common words span dozens of blocks, cut at batch
        # ends and at flushes, and queries look documents up block by block
        # (which blocks a look-up reads: the plan's own tests).
        from pyvornlex_search import postings
        lines = corpus_lines(150, seed=14)
        reference_db = self.build(lines, "default.db")
        with mock.patch.object(postings, "BLOCK", 4), \
                mock.patch.object(writer_module, "BATCH", 5), \
                mock.patch.object(writer_module, "POSTINGS_WAITING", 7):
            database = self.build(lines, "small.db")
            more = self.corpus(corpus_lines(40, seed=15), "more.txt")
            add_documents(more, database, analyzer=analyzer())
            add_documents(more, reference_db, analyzer=analyzer())
        self.assertEqual(stored_model(database)[1], stored_model(reference_db)[1])
        with closing(sqlite3.connect(database)) as connection:
            blocks = {}
            for token, docs_blob, tfs_blob in connection.execute(
                    "SELECT token, docs, tfs FROM posting"):
                blocks.setdefault(token, []).append(len(postings.unpack(docs_blob, tfs_blob)[0]))
            self.assertEqual(max(max(sizes) for sizes in blocks.values()), 4)
            token = max(blocks, key=lambda token: len(blocks[token]))
            self.assertGreater(len(blocks[token]), 20)
            docs, tfs = read_postings(connection, token)
            self.assertEqual(list(docs), sorted(set(docs)))
        with SearchIndex(database, analyzer=analyzer()) as small, \
                SearchIndex(reference_db, analyzer=analyzer()) as index:
            for query in queries(40, seed=16):
                with self.subTest(query=query):
                    try:
                        hits = small.search(query, 10)
                    except EmptyQueryError:
                        continue
                    self.assertEqual(hits, small.brute_force(query, 10))
                    self.assertEqual(places(hits), places(index.search(query, 10)))
                    self.assertEqual(places(hits), reference(small, database, query, 10))

    def test_an_open_index_sees_documents_added_by_another_connection(self):
        database = self.build(["杭州西湖"])
        with SearchIndex(database, analyzer=analyzer()) as index:
            self.assertEqual(index.search("北京", 5), [])
            add_documents(self.corpus(["北京冬天"], "more.txt"), database, analyzer=analyzer())
            self.assertEqual([hit.text for hit in index.search("北京", 5)], ["北京冬天"])
            self.assertEqual(index.query_vector("北京"), {"北京": 1.0})


V1_SCHEMA = """
CREATE TABLE meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;
CREATE TABLE source(id INTEGER PRIMARY KEY, path TEXT NOT NULL);
CREATE TABLE document(id INTEGER PRIMARY KEY, source INTEGER NOT NULL, line INTEGER NOT NULL,
                      text TEXT NOT NULL);
CREATE TABLE token(word TEXT PRIMARY KEY, id INTEGER NOT NULL, postings INTEGER NOT NULL,
                   min_weight REAL NOT NULL, max_weight REAL NOT NULL) WITHOUT ROWID;
CREATE TABLE posting(token INTEGER NOT NULL, first_doc INTEGER NOT NULL, docs BLOB NOT NULL,
                     weights BLOB NOT NULL, PRIMARY KEY(token, first_doc)) WITHOUT ROWID;
CREATE TABLE encoding(first_doc INTEGER PRIMARY KEY, last_doc INTEGER NOT NULL,
                      doc_length_average REAL NOT NULL);
"""


def layout_one_database(path, corpus, lines, legacy):
    """A database as the first layout stored it: weights, no analysis."""
    from array import array
    model = BM25()
    kept = [(number, line, legacy.words(line)) for number, line in enumerate(lines, 1)]
    kept = [(number, line, words) for number, line, words in kept if words]
    for _, _, words in kept:
        model.train(words)
    content = model_bytes(model)
    encoder = BM25()
    encoder.load(content)
    ids, postings = {}, {}
    for doc, (_, _, words) in enumerate(kept, 1):
        for word, weight in encoder.encode_document(words).items():
            token = ids.setdefault(word, len(ids))
            postings.setdefault(token, []).append((doc, weight))
    with closing(sqlite3.connect(path)) as connection:
        connection.executescript(V1_SCHEMA + f"PRAGMA application_id = {APPLICATION_ID};"
                                 "PRAGMA user_version = 1;")
        connection.execute("INSERT INTO meta VALUES ('model', ?), ('segmenter', 'jieba.cut')",
                           (content,))
        connection.execute("INSERT INTO source VALUES (1, ?)", (corpus,))
        connection.executemany("INSERT INTO document VALUES (?, 1, ?, ?)",
                               [(doc, number, line)
                                for doc, (number, line, _) in enumerate(kept, 1)])
        for word, token in ids.items():
            docs, weights = zip(*postings[token])
            connection.execute("INSERT INTO token VALUES (?, ?, ?, ?, ?)",
                               (word, token, len(docs), min(weights), max(weights)))
            connection.execute("INSERT INTO posting VALUES (?, ?, ?, ?)",
                               (token, docs[0], array("I", docs).tobytes(),
                                array("d", weights).tobytes()))
        connection.execute("INSERT INTO encoding VALUES (1, ?, 1.0)", (len(kept),))
        connection.commit()


class FirstLayout(Scratch):
    def test_a_layout_one_database_is_upgraded_with_the_analysis_it_was_built_with(self):
        lines = corpus_lines(60, seed=21) + ["Python 与 PYTHON"]
        corpus = self.corpus(lines)
        legacy = analyzer(Analysis.legacy())
        old = self.path("old.db")
        layout_one_database(old, corpus, lines, legacy)
        fresh = self.path("fresh.db")
        build_index(corpus, fresh, analyzer=legacy)
        with SearchIndex(old, analyzer=legacy) as upgraded, \
                SearchIndex(fresh, analyzer=legacy) as index:
            self.assertEqual(upgraded.analysis, Analysis.legacy())
            for query in queries(25, seed=22) + ["PYTHON"]:
                with self.subTest(query=query):
                    self.assertEqual(places(upgraded.search(query, 10)),
                                     places(index.search(query, 10)))
        self.assertEqual(stored_model(old)[1], stored_model(fresh)[1])
        self.assertEqual(documents(old), documents(fresh))
        with closing(sqlite3.connect(old)) as connection:
            self.assertEqual(connection.execute("PRAGMA user_version").fetchone()[0],
                             LAYOUT_VERSION)


def schema(path):
    with closing(sqlite3.connect(path)) as connection:
        return sorted(connection.execute("SELECT type, name, sql FROM sqlite_schema"))


def _layout_three_blob(data):
    deflated = zlib.compress(data, 1)
    return b"\1" + deflated if len(data) >= 64 and len(deflated) < len(data) else b"\0" + data


def as_earlier_layout(path, version):
    """Writes a database of no removed postings back in an earlier layout's
    form: layout 4 without the count of removed postings and the index of a
    file's documents, and its posting
    blocks as layout 2's two plain little-endian arrays, or layout 3's
    document numbers by byte plane and frequencies in the narrowest width,
    each deflated when that made it shorter."""
    with closing(sqlite3.connect(path)) as connection:
        connection.execute("DELETE FROM meta WHERE key = 'removed_postings'")
        connection.execute("DROP INDEX document_source")
        rows = connection.execute("SELECT token, first_doc, docs, tfs FROM posting").fetchall()
        for token, first_doc, docs_blob, tfs_blob in rows if version < 4 else ():
            docs, tfs = unpack(docs_blob, tfs_blob)
            if version == 3:
                width = 1 if max(tfs) < 256 else 2 if max(tfs) < 65536 else 4
                planes = bytes(doc >> (8 * plane) & 0xFF for plane in range(4) for doc in docs)
                docs_blob = _layout_three_blob(planes)
                tfs_blob = _layout_three_blob(b"".join(tf.to_bytes(width, "little")
                                                       for tf in tfs))
            else:
                docs_blob, tfs_blob = docs.tobytes(), tfs.tobytes()
            connection.execute("UPDATE posting SET docs = ?, tfs = ? "
                               "WHERE token = ? AND first_doc = ?",
                               (docs_blob, tfs_blob, token, first_doc))
        connection.execute(f"PRAGMA user_version = {version}")
        connection.commit()
    return len(rows)


class EarlierLayouts(Scratch):
    def test_layouts_two_to_four_are_upgraded_and_answer_as_before(self):
        # Long enough that some words span several blocks and need a wide tf.
        lines = corpus_lines(1500, seed=31) + ["的 " * 300]
        corpus = self.corpus(lines)
        fresh = self.path("fresh.db")
        build_index(corpus, fresh, analyzer=analyzer(stop_words_kept()))
        for version in (2, 3, 4):
            old = self.path(f"layout{version}.db")
            build_index(corpus, old, analyzer=analyzer(stop_words_kept()))
            self.assertGreater(as_earlier_layout(old, version), 0)
            with SearchIndex(old) as upgraded, SearchIndex(fresh) as index:
                for query in queries(20, seed=32) + ["的"]:
                    with self.subTest(version=version, query=query):
                        self.assertEqual(places(upgraded.search(query, 10)),
                                         places(index.search(query, 10)))
            self.assertEqual(table_contents(old), table_contents(fresh))
            self.assertEqual(schema(old), schema(fresh))

    def test_a_damaged_block_of_an_earlier_layout_is_refused_and_nothing_changes(self):
        corpus = self.corpus(corpus_lines(40, seed=33))
        for version in (2, 3):
            old = self.path(f"layout{version}.db")
            build_index(corpus, old, analyzer=analyzer())
            as_earlier_layout(old, version)
            with closing(sqlite3.connect(old)) as connection:
                token, first_doc = connection.execute(
                    "SELECT token, first_doc FROM posting LIMIT 1").fetchone()
                connection.execute("UPDATE posting SET tfs = x'010203' "
                                   "WHERE token = ? AND first_doc = ?", (token, first_doc))
                connection.commit()
            before = read_bytes(old)
            with self.subTest(version=version), self.assertRaisesRegex(DatabaseError, "damaged"):
                SearchIndex(old)
            self.assertEqual(read_bytes(old), before)


if __name__ == "__main__":
    unittest.main()
