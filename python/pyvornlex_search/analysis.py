"""Stand-in for the analyzer (being written on another branch): the
standard cut and the word filter, no folding or stop words yet."""

from __future__ import annotations

import json
from dataclasses import dataclass
from typing import Sequence

from pyvornlex import Jieba

from .words import Segmenter

__all__ = ["Analysis", "Analyzer", "LEGACY"]


@dataclass(frozen=True)
class Analysis:
    fold: bool = False
    user_dictionaries: tuple[str, ...] = ()
    stop_words: str | None = None

    def to_json(self) -> str:
        return json.dumps({"version": 1, "fold": self.fold,
                           "user_dictionaries": list(self.user_dictionaries),
                           "stop_words": self.stop_words})

    @classmethod
    def from_json(cls, text: str) -> Analysis:
        value = json.loads(text)
        return cls(value["fold"], tuple(value["user_dictionaries"]), value["stop_words"])

    def fingerprints(self) -> str:
        return "{}"

    def check(self, fingerprints: str, database: str) -> None:
        pass


LEGACY = Analysis()


class Analyzer:
    def __init__(self, analysis: Analysis = Analysis(), *, jieba: Jieba | None = None,
                 threads: int | None = None) -> None:
        self.analysis = analysis
        self._segmenter = Segmenter(jieba, threads)

    def words(self, text: str) -> list[str]:
        return self._segmenter.words(text)

    def cut_many(self, texts: Sequence[str]) -> list[list[str]]:
        return self._segmenter.cut_many(texts)

    def fold(self, text: str) -> str:
        return text
