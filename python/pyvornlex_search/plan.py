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

The fast plan is max-score: a term's contribution to any document lies
between the query weight times the term's smallest and largest stored weight,
so the terms with the largest possible contributions are read in full
("essential") and the others are only looked up for the documents found that
way, which can still reach the top k. A document that holds none of the
essential terms scores at most what the others can add up to; once that bound
is below the k-th exact score found, no unread document can enter the top k.
Bounds are compared with a margin far wider than any rounding of the sums, so
pruning never drops a document that rounding could have lifted."""

from __future__ import annotations

import heapq
import sqlite3
from array import array
from bisect import bisect_left
from typing import Callable, Hashable, Iterable, NamedTuple, Sequence

from .postings import read_postings
from .weights import Weigher

__all__ = ["Term", "Order", "top_k", "brute_force"]

# Taking a posting into the dict of a whole list costs about a third of
# finding one by bisection.
_LOOKUP_COST = 3


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


def _exact_scores(docs: Iterable[int], weights: Sequence[float],
                  lists: Sequence[dict[int, float]]) -> dict[int, float]:
    """Scores summed in term order; `lists` must hold every listed doc's weight."""
    scores = {}
    pairs = list(zip(weights, lists))
    for doc in docs:
        score = 0.0
        for weight, postings in pairs:
            stored = postings.get(doc)
            if stored is not None:
                score += weight * stored
        scores[doc] = score
    return scores


def _weights(connection: sqlite3.Connection, token: int, weigher: Weigher) -> dict[int, float]:
    docs, tfs = read_postings(connection, token)
    return dict(zip(docs, weigher.weights(docs, tfs)))


def brute_force(connection: sqlite3.Connection, terms: Sequence[Term], k: int,
                weigher: Weigher, order: Order | None = None) -> Ranked:
    """Reads every posting of every term and ranks all matching documents."""
    lists = [_weights(connection, term.token, weigher) for term in terms]
    matches: set[int] = set().union(*lists)
    return _ranked(_exact_scores(matches, [term.weight for term in terms], lists), k, order)


class _Postings:
    """What is known of one term's postings: a full list, or lookups so far."""

    __slots__ = ("token", "count", "weights", "complete", "checked", "_arrays", "_weigher")

    def __init__(self, term: Term, weigher: Weigher) -> None:
        self._weigher = weigher
        self.token = term.token
        self.count = term.postings
        self.weights: dict[int, float] = {}
        self.complete = False
        self.checked: set[int] = set()
        self._arrays: tuple[array, array] | None = None  # type: ignore[type-arg]

    def _read(self, connection: sqlite3.Connection) -> tuple[array, array]:  # type: ignore[type-arg]
        if self._arrays is None:
            self._arrays = read_postings(connection, self.token)
        return self._arrays

    def read_all(self, connection: sqlite3.Connection) -> None:
        if not self.complete:
            docs, tfs = self._read(connection)
            self.weights = dict(zip(docs, self._weigher.weights(docs, tfs)))
            self.complete = True
            self.checked = set()

    def look_up(self, connection: sqlite3.Connection, docs: list[int]) -> None:
        if self.complete:
            return
        needed = [doc for doc in docs if doc not in self.checked]
        if not needed:
            return
        if self.count <= _LOOKUP_COST * len(needed):
            self.read_all(connection)
            return
        listed, tfs = self._read(connection)
        end = len(listed)
        weight, lengths = self._weigher.weight, self._weigher.lengths
        for doc in needed:
            at = bisect_left(listed, doc)
            if at != end and listed[at] == doc:
                self.weights[doc] = weight(tfs[at], lengths[doc])
        self.checked.update(needed)


def _bound(terms: Sequence[Term]) -> float:
    """The largest score of a document holding only some of `terms` (at least one)."""
    positive = [term.high for term in terms if term.high > 0.0]
    if positive:
        return sum(positive)
    return max((term.high for term in terms), default=float("-inf"))


def top_k(connection: sqlite3.Connection, terms: Sequence[Term], k: int, weigher: Weigher,
          order: Order | None = None) -> Ranked:
    """The brute-force ranking's first k entries, reading as little as it can."""
    if not terms:
        return []
    count = len(terms)
    weights = [term.weight for term in terms]
    known = [_Postings(term, weigher) for term in terms]
    # Wider than the rounding of any sum of these terms by many orders of magnitude.
    margin = 1e-9 * sum(max(abs(term.low), abs(term.high)) for term in terms) + 1e-300
    by_bound = sorted(range(count), key=lambda i: (-terms[i].high, terms[i].postings, i))
    suffix_bound = [_bound([terms[i] for i in by_bound[start:]]) for start in range(count + 1)]

    essential = 1
    while True:
        for i in by_bound[:essential]:
            known[i].read_all(connection)
        partial: dict[int, float] = {}
        for i in by_bound[:essential]:
            weight = weights[i]
            get = partial.get
            for doc, stored in known[i].weights.items():
                partial[doc] = get(doc, 0.0) + weight * stored
        rest = by_bound[essential:]
        positive = [max(0.0, terms[i].high) for i in rest]
        negative = [min(0.0, terms[i].low) for i in rest]
        for step, i in enumerate(rest):
            if len(partial) > k:
                # Each candidate's final score lies in [partial + sum of negative
                # ends, partial + sum of positive ends] of the terms not read yet.
                kth = heapq.nlargest(k, partial.values())[-1]
                cut = kth + sum(negative[step:]) - sum(positive[step:]) - margin
                partial = {doc: score for doc, score in partial.items() if score >= cut}
            postings = known[i]
            postings.look_up(connection, list(partial))
            weight, found = weights[i], postings.weights
            if len(found) < len(partial):
                for doc, stored in found.items():
                    if doc in partial:
                        partial[doc] += weight * stored
            else:
                for doc in partial:
                    present = found.get(doc)
                    if present is not None:
                        partial[doc] += weight * present
        ranked = _ranked(_exact_scores(partial, weights, [p.weights for p in known]), k, order)
        if essential == count:
            return ranked  # every term read in full: every match was a candidate
        if len(ranked) == k:
            kth_score = ranked[-1][0]
            if suffix_bound[essential] + margin < kth_score:
                return ranked
            # Candidates only grow, so the k-th score only rises: skip the
            # prefixes whose rest could still beat it.
            while (essential < count
                   and not suffix_bound[essential] + margin < kth_score):
                essential += 1
        else:
            essential += 1
