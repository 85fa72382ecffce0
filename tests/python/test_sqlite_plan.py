"""The fast query plan against the brute-force ranking, on random posting
tables built directly: negative query weights, many ties, k beyond the
number of matches, terms with one posting and terms in every document."""

import random
import sqlite3
import unittest

from pyvornlex_search.layout import SCHEMA
from pyvornlex_search.plan import Term, brute_force, top_k
from pyvornlex_search.postings import PostingLists, read_postings


def write_rows(connection, rows):
    """Stores (token, doc, weight) rows as two indexing runs would, the
    documents split between them, so that words have two blocks."""
    tokens = max((token for token, _, _ in rows), default=-1) + 1
    by_doc = {}
    for token, doc, weight in rows:
        by_doc.setdefault(doc, []).append((token, weight))
    docs = sorted(by_doc)
    for run in (docs[:len(docs) // 2], docs[len(docs) // 2:]):
        lists = PostingLists(tokens)
        for doc in run:
            lists.add(doc, [token for token, _ in by_doc[doc]],
                      [weight for _, weight in by_doc[doc]])
        lists.write(connection)


def make_table(chooser, documents, tokens, tie_prone):
    connection = sqlite3.connect(":memory:", isolation_level=None)
    connection.executescript(SCHEMA)
    levels = [0.25, 0.5, 0.75]
    rows = []
    for token in range(tokens):
        share = chooser.choice([0.01, 0.1, 0.5, 1.0])
        for doc in range(1, documents + 1):
            if chooser.random() < share:
                weight = chooser.choice(levels) if tie_prone else chooser.uniform(0.01, 0.99)
                rows.append((token, doc, weight))
    write_rows(connection, rows)
    return connection


def make_terms(connection, chooser, tokens, negative):
    terms = []
    for token in sorted(chooser.sample(range(tokens), chooser.randint(1, min(8, tokens)))):
        _, weights = read_postings(connection, token)
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
    lists = [dict(zip(*read_postings(connection, term.token))) for term in terms]
    docs = set().union(*lists) if lists else set()
    scores = {doc: sum(term.weight * postings.get(doc, 0.0)
                       for term, postings in zip(terms, lists)) for doc in docs}
    return sorted(((score, doc) for doc, score in scores.items()),
                  key=lambda pair: (-pair[0], pair[1]))[:k]


class FastPlanEqualsBruteForce(unittest.TestCase):
    def check_many(self, tie_prone, negative, cases=150):
        chooser = random.Random(hash((tie_prone, negative)) & 0xffff)
        for case in range(cases):
            documents, tokens = chooser.choice([(5, 3), (60, 12), (400, 20)])
            connection = make_table(chooser, documents, tokens, tie_prone)
            terms = make_terms(connection, chooser, tokens, negative)
            for k in (1, 2, 3, 10, documents + 5):
                with self.subTest(case=case, k=k):
                    expected = independent_ranking(connection, terms, k)
                    self.assertEqual(brute_force(connection, terms, k), expected)
                    self.assertEqual(top_k(connection, terms, k), expected)

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
        self.assertEqual(top_k(connection, [], 10), [])
        write_rows(connection, [(0, 3, 0.5), (0, 1, 0.5), (1, 2, 0.9)])
        terms = [Term("a", 0, -1.0, 2, -0.5, -0.5), Term("b", 1, 2.0, 1, 1.8, 1.8)]
        # Negative scores rank below positive ones; documents without a term are absent.
        self.assertEqual(top_k(connection, terms, 100), [(1.8, 2), (-0.5, 1), (-0.5, 3)])
        self.assertEqual(top_k(connection, terms, 2), [(1.8, 2), (-0.5, 1)])

    def test_an_unread_document_that_ties_at_the_bound_wins_by_its_number(self):
        # The rarer term is read first; doc 1, holding only the other term at
        # its largest weight, ties with doc 5 exactly and must still come first.
        connection = sqlite3.connect(":memory:")
        connection.executescript(SCHEMA)
        write_rows(connection, [(0, 5, 0.5), (1, 1, 0.5), (1, 2, 0.25)])
        terms = [Term("a", 0, 1.0, 1, 0.5, 0.5), Term("b", 1, 1.0, 2, 0.25, 0.5)]
        self.assertEqual(top_k(connection, terms, 1), [(0.5, 1)])
        self.assertEqual(top_k(connection, terms, 2), [(0.5, 1), (0.5, 5)])

    def test_all_query_weights_negative(self):
        chooser = random.Random(5)
        connection = make_table(chooser, 200, 6, tie_prone=False)
        terms = []
        for term in make_terms(connection, chooser, 6, negative=False):
            terms.append(term._replace(weight=-term.weight, low=-term.high, high=-term.low))
        for k in (1, 5, 50, 500):
            self.assertEqual(top_k(connection, terms, k), independent_ranking(connection, terms, k))


if __name__ == "__main__":
    unittest.main()
