"""Ranking: the exact top k by inner product, found without reading every
posting, and the brute-force ranking it must equal.

A document's score is the sum, over the query's terms in ascending word order
(the order `encode_query` returns them in), of query weight x stored document
weight, for the terms the document holds; both plans add in that order, so
equal rankings mean equal floating-point scores. Documents that hold no query
term are not results. Ties go to the smaller document number.

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
from typing import Iterable, NamedTuple, Sequence

from .postings import read_postings

__all__ = ["Term", "top_k", "brute_force"]

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


def _ranked(scores: dict[int, float], k: int) -> Ranked:
    best = heapq.nsmallest(k, ((-score, doc) for doc, score in scores.items()))
    return [(-negated, doc) for negated, doc in best]


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


def brute_force(connection: sqlite3.Connection, terms: Sequence[Term], k: int) -> Ranked:
    """Reads every posting of every term and ranks all matching documents."""
    lists = [dict(zip(*read_postings(connection, term.token))) for term in terms]
    matches: set[int] = set().union(*lists)
    return _ranked(_exact_scores(matches, [term.weight for term in terms], lists), k)


class _Postings:
    """What is known of one term's postings: a full list, or lookups so far."""

    __slots__ = ("token", "count", "weights", "complete", "checked", "_arrays")

    def __init__(self, term: Term) -> None:
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
            self.weights = dict(zip(*self._read(connection)))
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
        listed, weights = self._read(connection)
        end = len(listed)
        for doc in needed:
            at = bisect_left(listed, doc)
            if at != end and listed[at] == doc:
                self.weights[doc] = weights[at]
        self.checked.update(needed)


def _bound(terms: Sequence[Term]) -> float:
    """The largest score of a document holding only some of `terms` (at least one)."""
    positive = [term.high for term in terms if term.high > 0.0]
    if positive:
        return sum(positive)
    return max((term.high for term in terms), default=float("-inf"))


def top_k(connection: sqlite3.Connection, terms: Sequence[Term], k: int) -> Ranked:
    """The brute-force ranking's first k entries, reading as little as it can."""
    if not terms:
        return []
    count = len(terms)
    weights = [term.weight for term in terms]
    known = [_Postings(term) for term in terms]
    # Wider than the rounding of any sum of these terms by many orders of magnitude.
    margin = 1e-9 * sum(max(abs(term.low), abs(term.high)) for term in terms) + 1e-300
    order = sorted(range(count), key=lambda i: (-terms[i].high, terms[i].postings, i))
    suffix_bound = [_bound([terms[i] for i in order[start:]]) for start in range(count + 1)]

    essential = 1
    while True:
        for i in order[:essential]:
            known[i].read_all(connection)
        partial: dict[int, float] = {}
        for i in order[:essential]:
            weight = weights[i]
            get = partial.get
            for doc, stored in known[i].weights.items():
                partial[doc] = get(doc, 0.0) + weight * stored
        rest = order[essential:]
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
        ranked = _ranked(_exact_scores(partial, weights, [p.weights for p in known]), k)
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
