"""Index a corpus into an SQLite database and search it, exactly, with
pyvornlex's Jieba and BM25.

    from pyvornlex_search import build_index, SearchIndex

    build_index("corpus.txt", "corpus.db")          # one document per line
    with SearchIndex("corpus.db") as index:
        for hit in index.search("查询的词语", k=10):
            print(hit.doc, hit.score, hit.text)

The same from the command line: ``python -m pyvornlex_search index CORPUS DB``
and ``python -m pyvornlex_search search DB "查询"``.

The names below are imported when first used, so that the command line can
take charge of Ctrl-C before the heavy imports (the module, SQLite) run.
"""

from __future__ import annotations

import importlib
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from .analysis import Analysis, Analyzer
    from .changes import delete_documents, sync
    from .errors import (AnalysisChangedError, CorpusError, DatabaseError, EmptyQueryError,
                         SearchToolError, WriterBusyError)
    from .indexing import add_documents, build_index, reencode
    from .layout import LAYOUT_VERSION
    from .report import IndexReport
    from .search import Hit, SearchIndex
    from .store import CountLimitError
    from .transaction import CommittedButInterrupted

_HOMES = {"Analysis": "analysis", "Analyzer": "analysis", "delete_documents": "changes",
          "sync": "changes", "AnalysisChangedError": "errors", "CorpusError": "errors", "DatabaseError": "errors",
          "EmptyQueryError": "errors", "SearchToolError": "errors", "WriterBusyError": "errors",
          "add_documents": "indexing", "build_index": "indexing", "reencode": "indexing",
          "LAYOUT_VERSION": "layout", "IndexReport": "report", "Hit": "search",
          "SearchIndex": "search", "CountLimitError": "store",
          "CommittedButInterrupted": "transaction"}

__all__ = ["build_index", "add_documents", "sync", "delete_documents", "reencode",
           "IndexReport", "SearchIndex", "Hit", "Analysis", "Analyzer", "SearchToolError",
           "CorpusError", "DatabaseError", "WriterBusyError", "EmptyQueryError",
           "AnalysisChangedError", "CountLimitError", "CommittedButInterrupted", "LAYOUT_VERSION"]


def __getattr__(name: str) -> Any:
    home = _HOMES.get(name)
    if home is None:
        raise AttributeError(f"module 'pyvornlex_search' has no attribute {name!r}")
    value = getattr(importlib.import_module(f".{home}", __name__), name)
    globals()[name] = value
    return value


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(__all__))
