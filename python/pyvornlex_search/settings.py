"""The settings a database keeps for every later run: its analysis (with the
fingerprints of the files it reads) and the shape of its documents."""

from __future__ import annotations

import sqlite3
from contextlib import closing

from pyvornlex import Jieba

from .analysis import Analysis, Analyzer
from .corpus import DocumentShape
from .layout import meta, open_existing

__all__ = ["stored_analysis", "stored_analyzer", "stored_shape"]


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
    with closing(open_existing(database)) as connection:
        analysis, fingerprints = stored_analysis(connection)
    if check:
        analysis.check(fingerprints, database)
    if analyzer is not None:
        if analyzer.analysis != analysis:
            raise ValueError(f"{database}: was built with another analysis than the analyzer's "
                             f"({analysis} vs {analyzer.analysis})")
        return analyzer
    return Analyzer(analysis, jieba=jieba, threads=threads)
