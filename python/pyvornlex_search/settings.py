"""The settings a database keeps for every later run: its analysis (with the
fingerprints of the files it reads) and the shape of its documents."""

from __future__ import annotations

import sqlite3
from contextlib import closing
from functools import cache, partial
from typing import Callable

from pyvornlex import Jieba

from .analysis import Analysis, Analyzer
from .corpus import DocumentShape
from .layout import meta, open_existing

__all__ = ["stored_analysis", "stored_analyzer", "stored_analyzer_later", "stored_shape",
           "analyzer_for"]


def analyzer_for(analysis: Analysis, jieba: Jieba | None, threads: int | None) -> Analyzer:
    """An analyzer for `analysis`. A `jieba` (the sharing of earlier versions,
    a Jieba of the standard dictionaries) is used where the analysis cuts
    with those alone; an analysis that folds or adds user dictionaries
    builds the Jieba it needs, so that no caller gets words it did not ask
    for."""
    if jieba is not None and (analysis.fold or analysis.user_dictionaries):
        jieba = None
    return Analyzer(analysis, jieba=jieba, threads=threads)


def stored_shape(connection: sqlite3.Connection) -> DocumentShape:
    return DocumentShape.from_json(str(meta(connection, "documents")))


def stored_analysis(connection: sqlite3.Connection) -> tuple[Analysis, str]:
    """The analysis and the fingerprints of its files, as stored."""
    return (Analysis.from_json(str(meta(connection, "analysis"))),
            str(meta(connection, "fingerprints")))


def stored_analyzer(database: str, analyzer: Analyzer | None, jieba: Jieba | None,
                    threads: int | None, check: bool = True) -> Analyzer:
    """An analyzer for the database's own analysis, its files checked
    against their stored fingerprints (unless `check` is off). A given
    `analyzer` must have been built with that analysis; a given `jieba` must
    have been built from its dictionaries."""
    return stored_analyzer_later(database, analyzer, jieba, threads, check)()


def stored_analyzer_later(database: str, analyzer: Analyzer | None, jieba: Jieba | None,
                          threads: int | None, check: bool = True) -> Callable[[], Analyzer]:
    """`stored_analyzer`, checked now and built when first called: building
    a Jieba takes a second or two, which a run that finds nothing to cut
    need not spend."""
    with closing(open_existing(database)) as connection:
        analysis, fingerprints = stored_analysis(connection)
    if check:
        analysis.check_fingerprints(fingerprints, database)
    if analyzer is not None:
        if analyzer.analysis != analysis:
            raise ValueError(f"{database}: was built with another analysis than the analyzer's "
                             f"({analysis} vs {analyzer.analysis})")
        given = analyzer
        return lambda: given
    return cache(partial(analyzer_for, analysis, jieba, threads))
