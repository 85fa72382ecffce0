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
pruning never drops a document that rounding could have lifted.

An essential list is read whole, its blocks joined and decoded in a few
C-level conversions; a look-up reads the keys of the word's blocks and then
only the blocks that can hold the candidates (postings.look_up), or the
whole list when the candidates would touch most of its blocks. Partial
scores are kept in dicts updated by map over bound methods, so that the
interpreter's work is per list and per step, not per posting."""

from __future__ import annotations

import heapq
import sqlite3
from bisect import bisect_left
from itertools import compress, repeat
from operator import add, mul
from typing import Callable, Hashable, Iterable, NamedTuple, Sequence

from .postings import BLOCK, look_up, read_postings
from .weights import Weigher

__all__ = ["Term", "Order", "top_k", "brute_force"]

_PROBE = 4  # documents probed for a first k-th score, per result asked for


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
                  lists: Sequence[_Postings]) -> dict[int, float]:
    """Scores summed in term order, as the brute force sums them; `lists`
    must know every listed doc's weight. A term that a document lacks adds
    weight x 0.0, a zero, which leaves every sum as it was."""
    docs = list(docs)
    scores = [0.0] * len(docs)
    for weight, postings in zip(weights, lists):
        scores = list(map(add, scores, map(mul, repeat(weight), postings.weights_of(docs))))
    return dict(zip(docs, scores))


class _Postings:
    """What is known of one term's postings: the whole list (documents and
    weights, in document order), or the weights of the documents looked up
    so far."""

    __slots__ = ("token", "count", "complete", "docs", "weights", "found", "checked",
                 "_weigher")

    def __init__(self, term: Term, weigher: Weigher) -> None:
        self._weigher = weigher
        self.token = term.token
        self.count = term.postings
        self.complete = False
        self.docs: Sequence[int] = ()
        self.weights: list[float] = []
        self.found: dict[int, float] = {}  # looked up: doc -> weight
        self.checked: set[int] = set()

    def read_all(self, connection: sqlite3.Connection) -> None:
        if not self.complete:
            self.docs, tfs = read_postings(connection, self.token)
            self.weights = self._weigher.weights(self.docs, tfs)
            self.complete = True
            self.found, self.checked = {}, set()

    def look_up(self, connection: sqlite3.Connection, docs: Iterable[int]) -> None:
        """Learns the weights of the documents `docs`: from the blocks that
        can hold them, or from the whole list when they would touch most of
        its blocks."""
        if self.complete:
            return
        needed = set(docs)
        needed.difference_update(self.checked)
        if not needed:
            return
        if len(needed) * BLOCK >= self.count:
            listed, tfs = read_postings(connection, self.token)
        else:
            listed, tfs = look_up(connection, self.token, needed)
        held = dict(zip(listed, tfs))
        hits = list(needed.intersection(held))
        self.found.update(zip(hits, self._weigher.weights(hits, map(held.__getitem__, hits))))
        self.checked |= needed

    def contributions(self, weight: float) -> tuple[Sequence[int], Iterable[float]]:
        """The documents known to hold the term, and weight x their stored weight."""
        if self.complete:
            return self.docs, map(mul, self.weights, repeat(weight))
        return list(self.found.keys()), map(mul, self.found.values(), repeat(weight))

    def weights_of(self, docs: Sequence[int]) -> Iterable[float]:
        """The stored weight of each of `docs` (0.0 where absent); each must
        have been read or looked up."""
        if not self.complete:
            return map(self.found.get, docs, repeat(0.0))
        if len(docs) * 8 >= len(self.docs):
            return map(dict(zip(self.docs, self.weights)).get, docs, repeat(0.0))
        listed, end, weights = self.docs, len(self.docs), self.weights
        known = []
        for doc in docs:
            at = bisect_left(listed, doc)
            known.append(weights[at] if at != end and listed[at] == doc else 0.0)
        return known


def _add_in(partial: dict[int, float], docs: Sequence[int], values: Iterable[float]) -> None:
    """partial[doc] += value (a new doc from 0.0), at C speed."""
    if not partial:
        partial.update(zip(docs, values))
        return
    partial.update(zip(docs, map(add, map(partial.get, docs, repeat(0.0)), values)))


def _add_to_known(partial: dict[int, float], docs: Sequence[int],
                  values: Iterable[float]) -> None:
    """partial[doc] += value for the docs that partial holds; others are passed over."""
    pairs = dict(zip(docs, values))
    held = list(pairs.keys() & partial.keys())
    partial.update(zip(held, map(add, map(partial.__getitem__, held),
                                 map(pairs.__getitem__, held))))


def _kept(partial: dict[int, float], cut: float) -> dict[int, float]:
    """The entries whose score is at least `cut`."""
    return dict(compress(partial.items(), map(cut.__le__, partial.values())))


def brute_force(connection: sqlite3.Connection, terms: Sequence[Term], k: int,
                weigher: Weigher, order: Order | None = None) -> Ranked:
    """Reads every posting of every term and ranks all matching documents."""
    lists = []
    for term in terms:
        postings = _Postings(term, weigher)
        postings.read_all(connection)
        lists.append(postings)
    matches: set[int] = set().union(*(postings.docs for postings in lists))
    return _ranked(_exact_scores(sorted(matches), [term.weight for term in terms], lists),
                   k, order)


def _bound(terms: Sequence[Term]) -> float:
    """The largest score of a document holding only some of `terms` (at least one)."""
    positive = [term.high for term in terms if term.high > 0.0]
    if positive:
        return sum(positive)
    return max((term.high for term in terms), default=float("-inf"))


def _first_essential(connection: sqlite3.Connection, known: Sequence[_Postings],
                     weights: Sequence[float], by_bound: Sequence[int],
                     suffix_bound: Sequence[float], k: int, margin: float) -> int:
    """How many terms to read in full at first: the fewest whose rest cannot
    reach a k-th score found by probing. The probe scores exactly the
    documents with the largest contributions of the first term, looking
    them up in the others (a few blocks each): real documents, so their
    k-th score is a floor under the final one. Without a probe the plan
    would look up every document of the first list in every other list
    before learning that more lists must be read in full."""
    if len(known) == 1:
        return 1
    first = known[by_bound[0]]
    first.read_all(connection)
    docs, values = first.contributions(weights[by_bound[0]])
    contributions = dict(zip(docs, values))
    if len(contributions) < k:
        return 1
    probe = heapq.nlargest(_PROBE * k, contributions, key=contributions.__getitem__)
    for i in by_bound[1:]:
        known[i].look_up(connection, probe)
    floor = heapq.nlargest(k, _exact_scores(probe, weights, known).values())[-1]
    essential = 1
    while essential < len(known) and not suffix_bound[essential] + margin < floor:
        essential += 1
    return essential


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

    essential = _first_essential(connection, known, weights, by_bound, suffix_bound, k, margin)
    while True:
        partial: dict[int, float] = {}
        for i in by_bound[:essential]:
            known[i].read_all(connection)
            _add_in(partial, *known[i].contributions(weights[i]))
        rest = by_bound[essential:]
        positive = [max(0.0, terms[i].high) for i in rest]
        negative = [min(0.0, terms[i].low) for i in rest]
        for step, i in enumerate(rest):
            if len(partial) > k:
                # Each candidate's final score lies in [partial + sum of negative
                # ends, partial + sum of positive ends] of the terms not read yet.
                kth = heapq.nlargest(k, partial.values())[-1]
                partial = _kept(partial, kth + sum(negative[step:]) - sum(positive[step:])
                                - margin)
            known[i].look_up(connection, partial)
            _add_to_known(partial, *known[i].contributions(weights[i]))
        if len(partial) > k:
            # Every term has been added: what lies below the k-th by more
            # than rounding cannot be in the top k.
            partial = _kept(partial, heapq.nlargest(k, partial.values())[-1] - margin)
        ranked = _ranked(_exact_scores(partial, weights, known), k, order)
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
