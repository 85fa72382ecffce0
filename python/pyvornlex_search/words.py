"""The cut of databases made before analyses were stored, kept for the code
that still builds it by this name: an `Analyzer` of `Analysis.legacy()`
(the standard dictionaries, no folding, no stop words; words made only of
blanks, punctuation and control characters dropped)."""

from __future__ import annotations

from pyvornlex import Jieba

from .analysis import Analysis, Analyzer

__all__ = ["SEGMENTER", "Segmenter"]

# Stored with every database, so that a later reader knows how it was cut.
SEGMENTER = "jieba.cut, standard dictionaries, without blank/punctuation/control words"


class Segmenter(Analyzer):
    """An `Analyzer` of `Analysis.legacy()`; `jieba` must be built from the
    standard dictionaries alone."""

    def __init__(self, jieba: Jieba | None = None, threads: int | None = None) -> None:
        super().__init__(Analysis.legacy(), jieba=jieba, threads=threads)
