"""Index a corpus into an SQLite database and search it, exactly, with
pyvornlex's Jieba and BM25.

    from pyvornlex_search import build_index, SearchIndex

    build_index("corpus.txt", "corpus.db")          # one document per line
    with SearchIndex("corpus.db") as index:
        for hit in index.search("查询的词语", k=10):
            print(hit.doc, hit.score, hit.text)

The same from the command line: ``python -m pyvornlex_search index CORPUS DB``
and ``python -m pyvornlex_search search DB "查询"``.
"""

from .analysis import Analysis, Analyzer
from .changes import delete_documents, sync
from .errors import (CorpusError, DatabaseError, EmptyQueryError, SearchToolError,
                     WriterBusyError)
from .indexing import add_documents, build_index, reencode
from .layout import LAYOUT_VERSION
from .report import IndexReport
from .search import Hit, SearchIndex
from .transaction import CommittedButInterrupted

__all__ = ["build_index", "add_documents", "sync", "delete_documents", "reencode",
           "IndexReport", "SearchIndex", "Hit", "Analysis", "Analyzer", "SearchToolError",
           "CorpusError", "DatabaseError", "WriterBusyError", "EmptyQueryError",
           "CommittedButInterrupted", "LAYOUT_VERSION"]
