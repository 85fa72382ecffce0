"""The fast query plan against the brute-force ranking, on random posting
tables built directly: negative query weights, many ties, k beyond the
number of matches, terms with one posting and terms in every document.

Weights are the real ones, tf / (tf + K) with each document's normaliser K;
tie-prone tables give every document the same length and a few frequencies,
so that many documents weigh the same."""

import random
import sqlite3
import unittest
from array import array

from pyvornlex_search._ranking import Ranker
from pyvornlex_search.layout import SCHEMA
from pyvornlex_search.plan import Term, brute_force, top_k
from pyvornlex_search.postings import PostingWriter, pack, read_postings, unpack
from pyvornlex_search.weights import Weigher

WEIGHER = None


def write_rows(connection, rows, lengths=None):
    """Stores (token, doc, tf) rows as two indexing runs would, the documents
    split between them, so that words have two blocks. Documents weigh as
    BM25 with b = 0.75 and k1 = 1.2 over `lengths` (doc -> length), or, by
    default, with every normaliser 3.0: frequencies 1, 3 and 27 weigh 0.25,
    0.5 and 0.9."""
    global WEIGHER
    by_doc = {}
    for token, doc, tf in rows:
        by_doc.setdefault(doc, []).append((token, tf))
    docs = sorted(by_doc)
    for run in (docs[:len(docs) // 2], docs[len(docs) // 2:]):
        if not run:
            continue
        writer = PostingWriter(connection, run[0])
        # A word is its token's number, repeated as often as it occurs.
        writer.add_documents(run, [[str(token) for token, tf in sorted(by_doc[doc])
                                    for _ in range(tf)] for doc in run], int)
        writer.flush()
    top = max(docs, default=0) + 1
    if lengths is None:
        WEIGHER = Weigher(0.0, 3.0, 1.0, array("I", [1] * top))
    else:
        table = array("I", (lengths.get(doc, 1) for doc in range(top)))
        WEIGHER = Weigher(0.75, 1.2, sum(lengths.values()) / len(lengths), table)


def weights_of(connection, token):
    docs, tfs = read_postings(connection, token)
    return docs, WEIGHER.weights(docs, tfs)


def make_table(chooser, documents, tokens, tie_prone):
    connection = sqlite3.connect(":memory:", isolation_level=None)
    connection.executescript(SCHEMA)
    rows = []
    for token in range(tokens):
        share = chooser.choice([0.01, 0.1, 0.5, 1.0])
        for doc in range(1, documents + 1):
            if chooser.random() < share:
                tf = chooser.choice([1, 3]) if tie_prone else chooser.randint(1, 6)
                rows.append((token, doc, tf))
    lengths = None if tie_prone else {doc: chooser.randint(1, 60)
                                      for doc in range(1, documents + 1)}
    write_rows(connection, rows, lengths)
    return connection


def make_terms(connection, chooser, tokens, negative):
    terms = []
    for token in sorted(chooser.sample(range(tokens), chooser.randint(1, min(8, tokens)))):
        _, weights = weights_of(connection, token)
        if not weights:
            continue
        count, low, high = len(weights), min(weights), max(weights)
        weight = chooser.choice([0.5, 0.25, 1.0]) if chooser.random() < 0.3 else chooser.uniform(0.01, 1)
        if negative and chooser.random() < 0.4:
            weight = -weight
        ends = sorted((weight * low, weight * high))
        terms.append(Term(str(token), token, weight, count, ends[0], ends[1]))
    return terms


def independent_ranking(connection, terms, k):
    """Dict-of-dicts arithmetic, adding in term order, sorted in full."""
    lists = [dict(zip(*weights_of(connection, term.token))) for term in terms]
    docs = set().union(*lists) if lists else set()
    scores = {doc: sum(term.weight * postings.get(doc, 0.0)
                       for term, postings in zip(terms, lists)) for doc in docs}
    return sorted(((score, doc) for doc, score in scores.items()),
                  key=lambda pair: (-pair[0], pair[1]))[:k]


class FastPlanEqualsBruteForce(unittest.TestCase):
    def check_many(self, tie_prone, negative, cases=150):
        chooser = random.Random(hash((tie_prone, negative)) & 0xffff)
        # One ranker for every query, as a searcher keeps one: what a query
        # leaves in its buffers must not reach the next (more terms, then fewer).
        ranker = Ranker()
        for case in range(cases):
            documents, tokens = chooser.choice([(5, 3), (60, 12), (400, 20)])
            connection = make_table(chooser, documents, tokens, tie_prone)
            terms = make_terms(connection, chooser, tokens, negative)
            for k in (1, 2, 3, 10, documents + 5):
                with self.subTest(case=case, k=k):
                    expected = independent_ranking(connection, terms, k)
                    self.assertEqual(brute_force(connection, terms, k, WEIGHER), expected)
                    self.assertEqual(top_k(connection, terms, k, WEIGHER), expected)
                    self.assertEqual(top_k(connection, terms, k, WEIGHER, ranker=ranker), expected)

    def test_distinct_weights(self):
        self.check_many(tie_prone=False, negative=False)

    def test_tied_weights(self):
        self.check_many(tie_prone=True, negative=False)

    def test_negative_query_weights(self):
        self.check_many(tie_prone=False, negative=True)

    def test_negative_weights_and_ties(self):
        self.check_many(tie_prone=True, negative=True)

    def test_no_terms_and_k_beyond_the_matches(self):
        connection = sqlite3.connect(":memory:")
        connection.executescript(SCHEMA)
        self.assertEqual(top_k(connection, [], 10, WEIGHER), [])
        write_rows(connection, [(0, 3, 3), (0, 1, 3), (1, 2, 27)])
        terms = [Term("a", 0, -1.0, 2, -0.5, -0.5), Term("b", 1, 2.0, 1, 1.8, 1.8)]
        # Negative scores rank below positive ones; documents without a term are absent.
        self.assertEqual(top_k(connection, terms, 100, WEIGHER), [(1.8, 2), (-0.5, 1), (-0.5, 3)])
        self.assertEqual(top_k(connection, terms, 2, WEIGHER), [(1.8, 2), (-0.5, 1)])

    def test_an_unread_document_that_ties_at_the_bound_wins_by_its_number(self):
        # The rarer term is read first; doc 1, holding only the other term at
        # its largest weight, ties with doc 5 exactly and must still come first.
        connection = sqlite3.connect(":memory:")
        connection.executescript(SCHEMA)
        write_rows(connection, [(0, 5, 3), (1, 1, 3), (1, 2, 1)])
        terms = [Term("a", 0, 1.0, 1, 0.5, 0.5), Term("b", 1, 1.0, 2, 0.25, 0.5)]
        self.assertEqual(top_k(connection, terms, 1, WEIGHER), [(0.5, 1)])
        self.assertEqual(top_k(connection, terms, 2, WEIGHER), [(0.5, 1), (0.5, 5)])

    def test_all_query_weights_negative(self):
        chooser = random.Random(5)
        connection = make_table(chooser, 200, 6, tie_prone=False)
        terms = []
        for term in make_terms(connection, chooser, 6, negative=False):
            terms.append(term._replace(weight=-term.weight, low=-term.high, high=-term.low))
        for k in (1, 5, 50, 500):
            self.assertEqual(top_k(connection, terms, k, WEIGHER),
                             independent_ranking(connection, terms, k))


class ReadsOnlyWhatItNeeds(unittest.TestCase):
    def test_a_common_word_is_looked_up_in_a_few_blocks_not_read(self):
        # A rare word of high weight and a word in every document: the top 3
        # come from the rare word's documents, and the common word is only
        # looked up for them, a block each.
        from unittest import mock
        from pyvornlex_search import postings
        connection = sqlite3.connect(":memory:")
        connection.executescript(SCHEMA)
        rows = [(0, doc, 27) for doc in (700, 2100, 4000)]
        rows += [(1, doc, 1 if doc % 3 else 3) for doc in range(1, 5001)]
        write_rows(connection, rows)
        terms = make_terms_of(connection, {0: 1.0, 1: 0.2})
        read, keys, looked_up = [], [], []
        real = postings.block_rows, postings.block_keys, postings.some_block_rows
        with mock.patch.object(postings, "block_rows",
                               lambda c, token: read.append(token) or real[0](c, token)), \
                mock.patch.object(postings, "block_keys",
                                  lambda c, token: keys.append(token) or real[1](c, token)), \
                mock.patch.object(postings, "some_block_rows", lambda c, token, wanted: (
                    looked_up.append((token, len(wanted))) or real[2](c, token, wanted))):
            found = top_k(connection, terms, 3, WEIGHER)
        self.assertEqual(found, independent_ranking(connection, terms, 3))
        self.assertEqual(read, [0])
        self.assertEqual(set(keys), {1})
        # The common word's 5,000 postings lie in about ten blocks: three are read.
        self.assertEqual(looked_up, [(1, 3)])


def make_terms_of(connection, query):
    """Terms of the given tokens with the given query weights."""
    terms = []
    for token, weight in sorted(query.items()):
        _, weights = weights_of(connection, token)
        ends = sorted((weight * min(weights), weight * max(weights)))
        terms.append(Term(str(token), token, weight, len(weights), ends[0], ends[1]))
    return terms


class Blocks(unittest.TestCase):
    def test_blocks_come_back_as_they_went_in(self):
        chooser = random.Random(3)
        cases = [([1], [1]), ([2**32 - 1], [2**32 - 1]), ([5, 6, 7], [255, 256, 1]),
                 (list(range(1, 513)), [1] * 512), ([7, 70000, 2**31], [3, 65536, 2]),
                 (sorted(chooser.sample(range(1, 2**32), 300)),
                  [chooser.randint(1, 9) for _ in range(300)])]
        for docs, tfs in cases:
            with self.subTest(docs=docs[:3], tfs=tfs[:3]):
                docs_blob, tfs_blob = pack(docs, tfs)
                got_docs, got_tfs = unpack(docs_blob, tfs_blob)
                self.assertEqual((list(got_docs), list(got_tfs)), (docs, tfs))
                if max(tfs) > 15:  # frequencies in the narrowest width, as they are
                    width = 1 if max(tfs) < 256 else 2 if max(tfs) < 65536 else 4
                    self.assertEqual(tfs_blob, b"\0" + b"".join(tf.to_bytes(width, "little")
                                                               for tf in tfs))
        # A common word's numbers: a byte each, and half a byte per frequency.
        docs_blob, tfs_blob = pack(range(1000, 1512), [1] * 512)
        self.assertEqual((len(docs_blob), len(tfs_blob)), (1 + 2 + 511, 1 + 256))

    def test_damaged_blocks_are_refused(self):
        docs_blob, tfs_blob = pack([1, 2, 3], [1, 1, 1])
        for bad in ((docs_blob, tfs_blob[:-1]), (b"\3" + docs_blob[1:], tfs_blob),
                    (docs_blob + b"\1\1", tfs_blob), (b"\2\1\0\1", tfs_blob),
                    (docs_blob[:-1] if docs_blob[:1] == b"\0" else b"\0abc", tfs_blob)):
            with self.subTest(bad=bad), self.assertRaises(ValueError):
                unpack(*bad)


if __name__ == "__main__":
    unittest.main()
