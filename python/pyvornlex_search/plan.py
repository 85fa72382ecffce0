"""Ranking: the exact top k by inner product, found without reading every
posting, and the brute-force ranking it must equal.

A document's score is the sum, over the query's terms in ascending word order
(the order `encode_query` returns them in), of query weight x document
weight, for the terms the document holds; both plans add in that order, so
equal rankings mean equal floating-point scores. Document weights come from
the stored term frequencies and lengths (weights.py). Documents that hold no
query term are not results. Ties go to the document that comes first in the
corpus (its file's path, then its line), which a fresh index of the same
files numbers first too.

The fast plan is max-score, in native code (csrc/search/max_score.h): the
terms with the largest possible contributions are read in full and the
others only looked up, a few blocks each, for the documents that can still
reach the top k. It reads the blocks through the three functions of
postings.py it is given, and returns the candidates with their exact scores;
ties are broken here. Both plans pass over the postings that removed
documents left in the blocks (their lengths are 0, their weights NaN). The
brute force stays in the interpreter, computed another way, as the
reference the fast plan is checked against."""

from __future__ import annotations

import heapq
import sqlite3
from array import array
from itertools import compress, repeat
from operator import add, mul
from typing import Callable, Hashable, Iterable, NamedTuple, Sequence

from . import _ranking
from . import postings
from .weights import Weigher

__all__ = ["Term", "Order", "top_k", "brute_force"]


class Term(NamedTuple):
    """A query word that the index holds."""

    word: str
    token: int
    weight: float  # the query weight
    postings: int
    low: float  # smallest contribution of the term where present
    high: float  # largest contribution of the term where present


Ranked = list[tuple[float, int]]  # (score, doc), best first
# The corpus order of some documents: doc -> a key that sorts them.
Order = Callable[[Sequence[int]], "dict[int, Hashable]"]


def _ranked(scores: dict[int, float], k: int, order: Order | None = None) -> Ranked:
    """The k best, ties by `order` (by number without one)."""
    best = heapq.nsmallest(k, ((-score, doc) for doc, score in scores.items()))
    if order is None or not best:
        return [(-negated, doc) for negated, doc in best]
    kth = -best[-1][0]
    group = [(score, doc) for doc, score in scores.items() if score >= kth]
    counts: dict[float, int] = {}
    for score, _ in group:
        counts[score] = counts.get(score, 0) + 1
    tied = [doc for score, doc in group if counts[score] > 1]
    if not tied:
        return [(-negated, doc) for negated, doc in best]
    keys = order(tied)
    group.sort(key=lambda pair: (-pair[0], keys.get(pair[1], ())))
    return group[:k]


def _weights_of(docs: Sequence[int], listed: Sequence[int],
                weights: Sequence[float]) -> Iterable[float]:
    """The weight of each of `docs` in a list (0.0 where absent)."""
    return map(dict(zip(listed, weights)).get, docs, repeat(0.0))


def brute_force(connection: sqlite3.Connection, terms: Sequence[Term], k: int,
                weigher: Weigher, order: Order | None = None) -> Ranked:
    """Reads every posting of every term and ranks all matching documents,
    adding each term's weight x 0.0 where a document lacks it (a zero, which
    leaves every sum as it was)."""
    lists = []
    for term in terms:
        docs, tfs = postings.read_postings(connection, term.token)
        weights = weigher.weights(docs, tfs)
        if weigher.removed:  # a removed document's weights are NaN
            live = [weight == weight for weight in weights]
            docs, weights = array("I", compress(docs, live)), list(compress(weights, live))
        lists.append((docs, weights))
    matches = sorted(set().union(*(docs for docs, _ in lists)))
    scores = [0.0] * len(matches)
    for term, (docs, weights) in zip(terms, lists):
        scores = list(map(add, scores, map(mul, repeat(term.weight),
                                           _weights_of(matches, docs, weights))))
    return _ranked(dict(zip(matches, scores)), k, order)


def top_k(connection: sqlite3.Connection, terms: Sequence[Term], k: int, weigher: Weigher,
          order: Order | None = None, ranker: _ranking.Ranker | None = None) -> Ranked:
    """The brute-force ranking's first k entries, reading as little as it can;
    a searcher passes its own `_ranking.Ranker`, whose buffers serve its
    next query too."""
    if not terms:
        return []
    tokens = [term.token for term in terms]
    candidates = (ranker or _ranking.Ranker()).top_k(
        [(term.weight, term.low, term.high, term.postings) for term in terms], k,
        weigher.normalisers(),
        lambda term: postings.block_rows(connection, tokens[term]),
        lambda term: postings.block_keys(connection, tokens[term]),
        lambda term, keys: postings.some_block_rows(connection, tokens[term], keys),
        weigher.removed)
    return _ranked(dict(candidates), k, order)
