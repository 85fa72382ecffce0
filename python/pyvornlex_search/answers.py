"""Answers to queries, as people and programs read them: the JSON object of
one query's answer (the server's and `search --json`'s alike), the text that
`search` prints, and the command line's loop over queries from standard input.

A JSON answer is {"query", "words", "k", "hits"}; each hit is its rank
followed by every field of `Hit`, under the field's own name, so fields that
`Hit` gains later come out without a change here, and by "marks": where the
query's words stand in the hit's text.

The words are folded (case, width: the analysis), the text is not, so the
places are found in the folded text and mapped back to the text: `ＰＹＴＨＯＮ`
is marked for the word `python`. They are given as [start, end) in UTF-16
code units, the offsets of a browser's strings."""

from __future__ import annotations

import json
import os
import sys
from itertools import accumulate
from typing import Any, BinaryIO, Callable, Iterable, Iterator, TextIO

from .errors import SearchToolError
from .search import Hit, SearchIndex

__all__ = ["answer", "hit_json", "to_json", "print_hits", "answer_queries", "NO_HIT"]

NO_HIT = "no document holds a word of the query"


def hit_json(rank: int, hit: Hit, marked: list[list[int]] | None = None) -> dict[str, Any]:
    return {"rank": rank, **hit._asdict(), "marks": marked if marked is not None else []}


def marks(fold: Callable[[str], str], text: str, words: Iterable[str]) -> list[list[int]]:
    """[start, end) of every place of `text` where one of the (folded) words
    stands once the text is folded, in UTF-16 code units, in order, places
    that overlap joined (adjacent ones stay apart). Where folding changes the text's length, each
    character is folded on its own, so that a place maps back to the
    characters it came from."""
    folded = fold(text)
    origin: list[int] | None = None  # the text's index of each folded character
    if len(folded) != len(text):
        pieces = [fold(character) for character in text]
        folded = "".join(pieces)
        origin = [index for index, piece in enumerate(pieces) for _ in piece]
    spans = []
    for word in set(words):
        at = folded.find(word) if word else -1
        while at >= 0:
            spans.append((at, at + len(word)))
            at = folded.find(word, at + 1)
    joined: list[list[int]] = []
    for start, end in sorted(spans):
        if origin is not None:
            start, end = origin[start], origin[end - 1] + 1
        if joined and start < joined[-1][1]:
            joined[-1][1] = max(joined[-1][1], end)
        else:
            joined.append([start, end])
    if joined and max(text) > "\uffff":  # characters that a browser counts as two units
        units = [0, *accumulate(2 if character > "\uffff" else 1 for character in text)]
        joined = [[units[start], units[end]] for start, end in joined]
    return joined


def answer(index: SearchIndex, query: str, k: int) -> dict[str, Any]:
    """The query's answer; raises what `SearchIndex.search` raises."""
    hits = index.search(query, k)
    # Each word once, in query order: what a reader looks for in the hits.
    words = list(dict.fromkeys(index.words(query)))
    fold = index.analyzer.fold
    return {"query": query, "words": words, "k": k,
            "hits": [hit_json(rank, hit, marks(fold, hit.text, words))
                     for rank, hit in enumerate(hits, 1)]}


def to_json(value: Any) -> str:
    """One line of JSON, non-ASCII characters as they are (the output is UTF-8)."""
    return json.dumps(value, ensure_ascii=False, allow_nan=False, separators=(",", ":"))


def print_hits(hits: list[Hit], out: TextIO) -> None:
    if not hits:
        print(NO_HIT, file=out)
    for rank, hit in enumerate(hits, 1):
        where = f"{hit.source}:{hit.line}" + (f", id {hit.id!r}" if hit.id is not None else "")
        print(f"{rank:>3}. {hit.score:.6f}  doc {hit.doc}  ({where})", file=out)
        print(f"     {hit.text}", file=out)


def _queries(stream: BinaryIO) -> Iterator[tuple[int, str | None]]:
    """(line number, query) for each line read, as soon as it is read; the
    query is None for a line that is not UTF-8."""
    for number, line in enumerate(iter(stream.readline, b""), 1):
        try:
            text = line.decode("utf-8")
        except UnicodeDecodeError:
            yield number, None
            continue
        yield number, text.removesuffix("\n").removesuffix("\r")


def _one_query(index: SearchIndex, query: str, k: int, as_json: bool) -> None:
    if as_json:
        sys.stdout.buffer.write(to_json(answer(index, query, k)).encode("utf-8") + b"\n")
    else:
        print_hits(index.search(query, k), sys.stdout)


def _stream(index: SearchIndex, k: int, as_json: bool) -> int:
    """Answers each line of standard input as it comes; returns how many
    lines got an error instead of hits."""
    failed = 0
    for number, query in _queries(sys.stdin.buffer):
        try:
            if query is None:
                raise SearchToolError(f"standard input, line {number}: not UTF-8")
            if not as_json:
                print(f"query {number}: {query}")
            _one_query(index, query, k, as_json)
        except SearchToolError as error:
            failed += 1
            if as_json:
                sys.stdout.buffer.write(
                    to_json({"query": query, "error": str(error)}).encode("utf-8") + b"\n")
            else:
                print(f"error: line {number}: {error}", file=sys.stderr)
        sys.stdout.flush()
    return failed


def answer_queries(database: str, query: str, k: int, as_json: bool) -> None:
    """`search DB QUERY` and `search DB -`: the analyzer and the model are
    loaded once for every query read. Raises SearchToolError after the last
    query when some could not be answered (each said why as it came)."""
    with SearchIndex(database) as index:
        try:
            if query != "-":
                _one_query(index, query, k, as_json)
                return
            failed = _stream(index, k, as_json)
            sys.stdout.flush()
        except BrokenPipeError:
            # The reader went away (`| head`): no more output, and no
            # second complaint when the interpreter flushes at exit.
            _silence_stdout()
            raise SearchToolError("standard output was closed before the last answer") from None
    if failed:
        raise SearchToolError(f"{failed} queries could not be answered")


def _silence_stdout() -> None:
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)
