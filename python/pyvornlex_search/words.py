"""Cutting text into the words that are indexed and searched.

Jieba's mixed cut (`Jieba.cut`), less the words made only of blanks,
punctuation and control characters: they occur in nearly every document, so
they would cost the most postings and tell documents apart the least. The
same function serves the corpus and the queries, so both see the same words."""

from __future__ import annotations

import os
import unicodedata
from concurrent.futures import ThreadPoolExecutor
from typing import Sequence

from pyvornlex import Jieba
from pyvornlex_data import dict_paths

__all__ = ["SEGMENTER", "Segmenter"]

# Stored with every database, so that a later reader knows how it was cut.
SEGMENTER = "jieba.cut, standard dictionaries, without blank/punctuation/control words"

_CHUNK = 256  # lines per task of the cutting threads


class _Searchable(dict):  # type: ignore[type-arg]
    """word -> whether it is kept; each new word is judged once."""

    def __missing__(self, word: str) -> bool:
        kept = not all(unicodedata.category(character)[0] in "ZPC" for character in word)
        self[word] = kept
        return kept


class Segmenter:
    """A Jieba with the word filter. `Jieba.cut` lets go of the interpreter
    lock, so `cut_many` cuts on several threads at once."""

    def __init__(self, jieba: Jieba | None = None, threads: int | None = None) -> None:
        self.jieba = jieba if jieba is not None else Jieba(*dict_paths())
        self.threads = max(1, threads if threads is not None else min(2, os.cpu_count() or 1))
        self._kept = _Searchable()

    def words(self, text: str) -> list[str]:
        return list(filter(self._kept.__getitem__, self.jieba.cut(text)))

    def _cut_chunk(self, texts: Sequence[str]) -> list[list[str]]:
        """The words of each text. The texts are cut as one, joined by line
        feeds: cppjieba cuts at every line feed and gives it as a word of its
        own, so each text's words are what cutting it alone gives, and one
        call instead of one per text lets the threads cut side by side
        rather than queue for the interpreter lock."""
        cut, kept = self.jieba.cut, self._kept.__getitem__
        if any("\n" in text for text in texts):
            return [list(filter(kept, cut(text))) for text in texts]
        each: list[list[str]] = []
        words: list[str] = []
        for word in cut("\n".join(texts)):
            if word == "\n":
                each.append(words)
                words = []
            elif kept(word):
                words.append(word)
        each.append(words)
        return each

    def cut_many(self, texts: Sequence[str]) -> list[list[str]]:
        chunks = [texts[start:start + _CHUNK] for start in range(0, len(texts), _CHUNK)]
        if self.threads == 1 or len(chunks) < 2:
            return [words for chunk in chunks for words in self._cut_chunk(chunk)]
        with ThreadPoolExecutor(self.threads) as pool:
            return [words for cut in pool.map(self._cut_chunk, chunks) for words in cut]
